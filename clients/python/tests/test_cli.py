"""orvexa-cli as a script sees it, against the real server: the CSV files it writes
read back to the values the library reads, and every exit code (0 done, 2 usage,
3 cannot connect / connection lost, 4 refused, 5 not authorised), each with one line on
standard error and never a traceback; a stand-in server for the endings the real one
does not produce on demand. ORVEXA_CLI names the installed command (build/venv); without
it the package is run with ``python3 -m orvexa``.
"""

import csv
import os
import select
import shlex
import struct
import subprocess
import sys
import tempfile
import time
import unittest
from datetime import datetime, timezone

import orvexa
from orvexa_server import BUILD_DIR, CLIENT_ROOT, OrvexaServer, closed_port, wait_for, write_log
from stand_in_server import StandIn

LOGGED = 5000


def cli_command():
    installed = os.environ.get("ORVEXA_CLI")
    return shlex.split(installed) if installed else [sys.executable, "-m", "orvexa"]


def cli_env():
    env = dict(os.environ)
    env["PYTHONPATH"] = CLIENT_ROOT + os.pathsep + env.get("PYTHONPATH", "")
    env.pop("ORVEXA_URL", None)
    env.pop("ORVEXA_TOKEN", None)
    return env


def f32(x):
    return struct.unpack(">f", struct.pack(">f", x))[0]


def iso_seconds(text):
    return int(datetime.strptime(text, "%Y-%m-%dT%H:%M:%SZ").replace(tzinfo=timezone.utc).timestamp())


class CliTests(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.first_time = (int(time.time()) - 100000) // 60 * 60

        def prepare(folder):
            write_log(os.path.join(folder, "ramp.log"), cls.first_time,
                      [(k % 777) / 64.0 - 3.0 for k in range(LOGGED)])

        cls.server = OrvexaServer(prepare=prepare)
        cls.files = tempfile.TemporaryDirectory(prefix="orvexa-cli-")

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        cls.files.cleanup()

    def run_cli(self, *args, url=None, expect=0, env=None):
        command = cli_command() + ["--url", url or self.server.url("tcp"), *args]
        done = subprocess.run(command, capture_output=True, text=True, env={**cli_env(), **(env or {})},
                              timeout=60)
        self.assertEqual(done.returncode, expect, f"{args}: {done.stderr}")
        self.assertNotIn("Traceback", done.stderr)
        if expect not in (0, 2):
            self.assertEqual(len(done.stderr.strip().splitlines()), 1, done.stderr)
        return done

    def read_csv(self, path):
        with open(path, newline="") as f:
            rows = list(csv.reader(f))
        return rows[0], rows[1:]

    def path(self, name):
        return os.path.join(self.files.name, name)

    def test_csv_output_reads_back_exactly(self):
        with orvexa.connect(self.server.url("tcp")) as c:
            expected = c.read_history("Simulator_Ramp", self.first_time, 2, orvexa.window_limit(LOGGED))
            for url in (self.server.url("tcp"), self.server.url("ws")):
                self.run_cli("history", "Simulator_Ramp", "--mode", "2", "--start", str(self.first_time),
                             "--span", str(LOGGED), "--csv", self.path("history.csv"), url=url)
                header, rows = self.read_csv(self.path("history.csv"))
                self.assertEqual(header, ["time", "value"])
                self.assertEqual([(iso_seconds(t), f32(float(v))) for t, v in rows], list(expected))

            # Standard output carries the same CSV; mode 2 by ISO time, thinned per hour.
            start = datetime.fromtimestamp(self.first_time, timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")
            out = self.run_cli("history", "Simulator_Ramp", "--mode", "2", "--start", start,
                               "--span", "3600", "--thinning", "minute").stdout.splitlines()
            self.assertEqual(out[0], "time,value")
            self.assertEqual(len(out), 1 + 61)

            self.run_cli("fast", "Simulator_Sine", "--seconds", "0.5", "--csv", self.path("fast.csv"))
            header, rows = self.read_csv(self.path("fast.csv"))
            self.assertEqual(header, ["sequence", "tick_ms", "value"])
            sequences = [int(r[0]) for r in rows]
            self.assertGreater(len(rows), 100)
            self.assertEqual(sequences, list(range(sequences[0], sequences[0] + len(rows))))
            held = c.read_fast_samples(1, sequences[-1], since=True, with_time=True).samples[-1]
            self.assertEqual((held.sequence, held.time_ms, held.value),
                             (sequences[-1], int(rows[-1][1]), f32(float(rows[-1][2]))))

            done = self.run_cli("record", "Simulator_Sine", "Simulator_Ramp", "--seconds", "0.3",
                                "--capacity", "20", "--csv", self.path("record.csv"))
            experiment_id = int(done.stderr.split("experiment")[1].split()[0])
            header, rows = self.read_csv(self.path("record.csv"))
            self.assertEqual(header, ["channel", "sequence", "relative_time", "value"])
            stored = {s.channel: s for s in c.read_experiment(experiment_id, [1, 2])}
            for number, name in ((1, "Simulator_Sine"), (2, "Simulator_Ramp")):
                mine = [r for r in rows if r[0] == name]
                self.assertEqual([(int(q), round(float(t) * 100000), f32(float(v))) for _, q, t, v in mine],
                                 list(stored[number]))
            self.run_cli("experiment", "read", str(experiment_id), "--csv", self.path("again.csv"))
            self.assertEqual(self.read_csv(self.path("again.csv"))[1], rows)

            self.run_cli("burst", "sweep", "--duration", "50", "--csv", self.path("burst.csv"))
            header, rows = self.read_csv(self.path("burst.csv"))
            self.assertEqual(header, ["sample", "time"] + [f"burst_{k}" for k in range(8)])
            self.assertEqual(len(rows), 50)
            burst_id = c.list_experiments(0)[-1].id
            column3 = c.read_experiment(burst_id, [1004])[0]
            self.assertEqual([f32(float(r[5])) for r in rows], list(column3.values))

    def test_commands_and_exit_codes(self):
        listed = self.run_cli("list").stdout.splitlines()
        self.assertEqual(listed[2].split("\t")[:3], ["3", "rw", "Simulator_Setpoint"])
        self.run_cli("write", "Simulator_Setpoint", "0.3")
        line = self.run_cli("read", "Simulator_Setpoint", "Simulator_Sine", url=self.server.url("ws")).stdout
        self.assertEqual(line.splitlines()[0].split("\t")[:2], ["Simulator_Setpoint", "0.3"])
        self.assertEqual(self.run_cli("status").stdout.strip(), "in control, no time limit")
        self.assertEqual(self.run_cli("controllers").stdout.strip(), "127.0.0.1")
        watched = self.run_cli("watch", "Simulator_Setpoint", "--count", "2", "--interval", "0.1").stdout
        self.assertEqual([l.split("\t")[1] for l in watched.splitlines()], ["Simulator_Setpoint=0.3"] * 2)
        self.assertTrue(self.run_cli("experiments").stdout is not None)

        self.run_cli("history", "Simulator_Ramp", expect=2)  # --span missing
        self.run_cli("history", "Simulator_Ramp", "--span", "60", "--mode", "1", expect=2)  # no --hour
        self.run_cli("list", url="http://127.0.0.1:1/", expect=2)
        self.run_cli("write", "Simulator_Setpoint", "many", expect=2)

        self.run_cli("list", url=f"tcp://127.0.0.1:{closed_port()}", expect=3)
        self.run_cli("list", url=f"ws://127.0.0.1:{closed_port()}/", expect=3)

        self.run_cli("read", "No_Such_Channel", expect=4)
        self.run_cli("write", "Simulator_Sine", "1", expect=4)  # not writable
        self.run_cli("--observer", "write", "Simulator_Setpoint", "1", expect=4)
        self.run_cli("experiment", "read", "2000000000", expect=4)
        self.run_cli("burst", "no-such-burst", "--duration", "10", expect=4)
        self.run_cli("fast", "Simulator_Setpoint", "--seconds", "0.2", expect=4)  # not fast-sampled

    def test_not_in_control_and_a_dropped_server(self):
        server = OrvexaServer(args=["/limitcontrol"])
        try:
            with orvexa.connect(server.url("tcp")) as first:
                self.assertTrue(first.control_status().in_control)
                done = self.run_cli("write", "Simulator_Setpoint", "5", url=server.url("tcp"), expect=4)
                self.assertIn("not in control", done.stderr)
                self.assertEqual(first.read_value("Simulator_Setpoint").value, 0.0)

            command = cli_command() + ["--url", server.url("ws"), "watch", "Simulator_Sine", "--interval", "0.1"]
            watcher = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                       env=cli_env())
            try:
                wait_for(lambda: select.select([watcher.stdout], [], [], 0.1)[0], 15, "the first line")
                self.assertIn("Simulator_Sine=", watcher.stdout.readline())
                server.kill()
                rc = watcher.wait(15)
                err = watcher.stderr.read()
            finally:
                if watcher.poll() is None:
                    watcher.kill()
                watcher.wait()
                watcher.stdout.close()
                watcher.stderr.close()
            self.assertEqual(rc, 3, err)
            self.assertNotIn("Traceback", err)
            self.assertRegex(err.strip(), r"^orvexa-cli: connection to ws://\S+ lost: .+$")
        finally:
            server.stop()

    def test_server_dying_during_a_burst_is_a_lost_connection(self):
        # The stand-in takes the burst request and dies without a word: the connection
        # is lost (3), which is not the refusal of an unknown burst (4, checked above
        # against the real server, which stays up).
        def die_in_burst(peer):
            peer.hello()
            peer.request(1 + 2 + len("sweep") + 4)

        for scheme in ("tcp", "ws"):
            with self.subTest(transport=scheme):
                stand_in = StandIn(die_in_burst, websocket=scheme == "ws")
                done = self.run_cli("burst", "sweep", "--duration", "5000", url=stand_in.url, expect=3)
                stand_in.join()
                self.assertIn("lost", done.stderr)

    def test_token_and_not_authorised(self):
        openings = []

        def refuse(peer):
            openings.append(peer.hello(answer=4))

        for scheme, args, env in (("tcp", ["--token", "eyJ.a.b"], {}),
                                  ("ws", ["--observer"], {"ORVEXA_TOKEN": "eyJ.c.d"})):
            with self.subTest(transport=scheme):
                stand_in = StandIn(refuse, websocket=scheme == "ws")
                done = self.run_cli(*args, "list", url=stand_in.url, env=env, expect=5)
                stand_in.join()
                self.assertIn("not authorised", done.stderr)
        self.assertEqual(openings, [(1, b"eyJ.a.b"), (3, b"eyJ.c.d")])
        # Longer than the opening carries: a usage error before any connection is tried.
        done = self.run_cli("--token", "x" * 254, "list", url=f"tcp://127.0.0.1:{closed_port()}", expect=2)
        self.assertIn("at most 253", done.stderr)

    def test_token_against_a_server_that_authenticates(self):
        keys_dir = tempfile.TemporaryDirectory(prefix="orvexa-keys-")
        self.addCleanup(keys_dir.cleanup)
        keys = keys_dir.name
        tool = os.path.join(BUILD_DIR, "orvexa-token")

        def secret(name):
            path = os.path.join(keys, name)
            subprocess.run([tool, "--new-hs256", path], check=True, capture_output=True)
            return path

        def token(key, role):
            return subprocess.run([tool, "--key", key, "--role", role, "--sub", "ada", "--aud", "lab1"],
                                  check=True, capture_output=True, text=True).stdout.strip()

        lab_key, other_key = secret("lab.secret"), secret("other.secret")
        server = OrvexaServer(config=f'OrvexaConfig {{ Authenticate = true AuthKeyFile = "{lab_key}" '
                                     f'LabId = "lab1" }}\n')
        try:
            url = server.url("tcp")
            self.assertIn("Simulator_Sine", self.run_cli("--token", token(lab_key, "controller"), "list",
                                                         url=url).stdout)
            self.run_cli("--observer", "list", url=server.url("ws"),
                         env={"ORVEXA_TOKEN": token(lab_key, "observer")})
            for args in (["--token", token(other_key, "controller")], ["--token", token(lab_key, "observer")],
                         []):
                done = self.run_cli(*args, "list", url=url, expect=5)
                self.assertIn("not authorised", done.stderr)
        finally:
            server.stop()


if __name__ == "__main__":
    unittest.main()
