"""orvexa.live and ``orvexa-cli watch --broker`` against the real server publishing to a
private Mosquitto (as ``nobody`` when run as root, in a folder that user owns): the
retained channels and values, the sine's fast samples without a gap, and the command's
value lines. Needs python3-paho-mqtt (build/venv sees Debian's packages).
"""

import os
import pwd
import shutil
import socket
import subprocess
import tempfile
import unittest

from orvexa_server import CONFIG, OrvexaServer, wait_for
from test_cli import cli_command

try:
    from orvexa.live import Live
except ImportError as e:  # the Debian package is missing: say so rather than fail obscurely
    raise unittest.SkipTest(f"python3-paho-mqtt is not installed: {e}")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Broker:
    def __init__(self):
        self.folder = tempfile.mkdtemp(prefix="orvexa-mqtt-")
        self.port = free_port()
        with open(os.path.join(self.folder, "mosquitto.conf"), "w") as f:
            f.write(f"listener {self.port} 127.0.0.1\nallow_anonymous true\npersistence false\n")
        command = [shutil.which("mosquitto") or "/usr/sbin/mosquitto", "-c", f"{self.folder}/mosquitto.conf"]
        if os.geteuid() == 0:
            nobody = pwd.getpwnam("nobody")
            os.chown(self.folder, nobody.pw_uid, nobody.pw_gid)
            command = ["runuser", "-u", "nobody", "--"] + command
        self.process = subprocess.Popen(command, stderr=subprocess.DEVNULL)

        def accepts():
            try:
                socket.create_connection(("127.0.0.1", self.port), 0.5).close()
                return True
            except OSError:
                return False
        wait_for(accepts, 10, "the broker")

    def stop(self):
        self.process.terminate()
        self.process.wait(10)
        shutil.rmtree(self.folder, ignore_errors=True)


class LiveTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.broker = Broker()
        config = CONFIG.replace(
            "OrvexaConfig {",
            f'OrvexaConfig {{\n   BrokerUrl = "mqtt://127.0.0.1:{cls.broker.port}"  LabId = "py"\n'
            "   PublishValueRate = 10", 1)
        cls.server = OrvexaServer(config=config)
        wait_for(lambda: "Publishing live data" in cls.server.output(), 20, "the publisher")

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        cls.broker.stop()

    def test_values_channels_and_gap_free_fast_samples(self):
        url = f"mqtt://127.0.0.1:{self.broker.port}"
        with Live(url, "py") as live:
            channels = live.wait_for("channels")
            numbers = {c["id"]: c["number"] for c in channels["channels"]}
            self.assertIn("Simulator_Sine", numbers)
            self.assertEqual(live.wait_for("status"), "online")
            frame = next(live.values(seconds=10))
            self.assertIn(numbers["Simulator_Sine"], frame.values)
            gaps = []
            samples = []
            for sample in live.fast("Simulator_Sine", seconds=20, on_gap=lambda *g: gaps.append(g)):
                samples.append(sample)
                if len(samples) >= 1500:
                    break
            self.assertEqual(gaps, [])
            self.assertEqual([s.sequence for s in samples],
                             list(range(samples[0].sequence, samples[0].sequence + len(samples))))
            self.assertEqual(live.errors, [])

        run = subprocess.run(cli_command() + ["watch", "--broker", url, "--lab", "py", "--count", "2",
                                              "Simulator_Sine"],
                             capture_output=True, text=True, timeout=60)
        self.assertEqual(run.returncode, 0, run.stderr)
        lines = run.stdout.splitlines()
        self.assertEqual(len(lines), 2)
        self.assertIn("\tSimulator_Sine=", lines[0])

        wrong = subprocess.run(cli_command() + ["--timeout", "1", "watch", "--broker", url, "--lab", "nolab"],
                               capture_output=True, text=True, timeout=60)
        self.assertEqual(wrong.returncode, 3, wrong.stderr)
        self.assertIn("no channels of lab 'nolab'", wrong.stderr)


if __name__ == "__main__":
    unittest.main()
