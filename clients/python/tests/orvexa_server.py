"""A real Orvexa server for the client's tests: build/orvexa started headless in a
temporary folder with Simulator.ldp and an orvexa.cfg of the test's own, on a free
port. Waits on its output with deadlines; stops it with SIGTERM (SIGKILL as a last
resort) and removes the folder.

Used by the test modules from the unittest thread.
"""

import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
BUILD_DIR = os.environ.get("ORVEXA_BUILD_DIR") or os.path.normpath(os.path.join(HERE, "..", "..", "..", "build"))
CLIENT_ROOT = os.path.dirname(HERE)

# Fast-samples the sine at 1000 Hz for the gap-free stream; the ramp's log file is
# prepared by the test (its record period is long, so the server adds little) and is
# never copied (a copy would be 120 MB).
CONFIG = """OrvexaConfig {
   LogingInfo = struct {
      Simulator_Sine = struct {
         FastLogEnabled = true  FastLogFreq = 1000  FastLogSize = 10000
      }
      Simulator_Ramp = struct {
         LogingEnabled = true  LogFileName = "ramp.log"  TimeBetweenLogs = 3600
         TimeBetweenReplications = 0
         FastLogEnabled = true  FastLogFreq = 100  FastLogSize = 1000
      }
      Simulator_Output = struct {
         FastLogEnabled = true  FastLogFreq = 100  FastLogSize = 1000
      }
   }
}
"""

LOG_CAPACITY = 15000000


def write_log(path, first_time, values):
    """A log file as the server keeps it: a 12-byte header (next slot, count, capacity;
    little-endian) and (time, value x 256) records, sparse up to its full size."""
    count = len(values)
    with open(path, "wb") as f:
        f.write(struct.pack("<III", count, count, LOG_CAPACITY))
        f.write(b"".join(struct.pack("<Ii", first_time + k, int(v * 256)) for k, v in enumerate(values)))
        f.truncate(12 + 8 * LOG_CAPACITY)


def wait_for(predicate, deadline_s, what):
    end = time.monotonic() + deadline_s
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= end:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(0.02)


class OrvexaServer:
    def __init__(self, args=(), prepare=None, config=CONFIG):
        binary = os.path.join(BUILD_DIR, "orvexa")
        plugin = os.path.join(BUILD_DIR, "Simulator.ldp")
        if not (os.path.exists(binary) and os.path.exists(plugin)):
            raise RuntimeError(f"build/orvexa and build/Simulator.ldp are needed (looked in {BUILD_DIR})")
        self.folder = tempfile.mkdtemp(prefix="orvexa-py-")
        shutil.copy(plugin, self.folder)
        with open(os.path.join(self.folder, "orvexa.cfg"), "w") as f:
            f.write(config)
        if prepare:
            prepare(self.folder)
        self._out_path = os.path.join(self.folder, ".stdout")
        with open(self._out_path, "wb") as out, open(os.path.join(self.folder, ".stderr"), "wb") as err:
            self.process = subprocess.Popen([binary, "/headless", "/port", "0", *args], cwd=self.folder,
                                            stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        try:
            match = wait_for(lambda: self._alive() and re.search(r"Listening on port (\d+)\n", self.output()),
                             15, "the server's port")
            self.port = int(match.group(1))
            wait_for(lambda: self._alive() and "Server running" in self.output(), 15, "Server running")
        except BaseException:
            self.stop()
            raise

    def _alive(self):
        if self.process.poll() is not None:
            raise AssertionError(f"the server ended early ({self.process.returncode}): {self.output()[-2000:]}")
        return True

    def output(self):
        with open(self._out_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def url(self, scheme="tcp"):
        return f"tcp://127.0.0.1:{self.port}" if scheme == "tcp" else f"ws://127.0.0.1:{self.port}/orvexa"

    def kill(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGKILL)
            self.process.wait(10)

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(15)
            except subprocess.TimeoutExpired:
                self.kill()
        shutil.rmtree(self.folder, ignore_errors=True)


def closed_port():
    """A loopback port nobody listens on (just released by the system)."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]
