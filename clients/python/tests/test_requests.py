"""The client library against the real server with Simulator.ldp, over plain TCP and
WebSocket: every request's reply decoded (grouped by area: channels and batches,
history and fast samples, experiments, bursts), a 131072-sample history reply, and a
gap-free fast stream of 10 s at 1000 Hz. A stand-in server sends the WebSocket replies
the real one does not: fragments with a ping between them, replies of the wrong length.
"""

import contextlib
import math
import os
import struct
import time
import unittest

import orvexa
from orvexa_server import OrvexaServer, wait_for, write_log
from stand_in_server import StandIn

TRANSPORTS = ("tcp", "ws")
LOGGED = 150000  # records in the prepared log: more than one reply holds


def logged_value(k):
    # Multiples of 1/8: exact in the log's fixed point and in float32.
    return (k % 2000 - 1000) / 8.0


def f32(x):
    return struct.unpack(">f", struct.pack(">f", x))[0]


class RequestTests(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.first_time = (int(time.time()) - 200000) // 60 * 60

        def prepare(folder):
            write_log(os.path.join(folder, "ramp.log"), cls.first_time,
                      [logged_value(k) for k in range(LOGGED)])

        cls.server = OrvexaServer(prepare=prepare)

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    def connect(self, scheme, kind="controller"):
        """A client closed when the current transport's round ends (see clients())."""
        client = orvexa.connect(self.server.url(scheme), kind=kind, timeout=20)
        self._open.append(client)
        return client

    @contextlib.contextmanager
    def clients(self):
        """Closes the clients connected inside the block when it ends."""
        self._open = []
        try:
            yield
        finally:
            for client in self._open:
                client.close()

    def test_channel_requests_and_batches(self):
        for scheme in TRANSPORTS:
            with self.subTest(transport=scheme), self.clients():
                c = self.connect(scheme)
                channels = c.list_channels()
                self.assertEqual([ch.id for ch in channels],
                                 ["Simulator_Sine", "Simulator_Ramp", "Simulator_Setpoint", "Simulator_Output"])
                self.assertEqual([(ch.number, ch.readable, ch.writable) for ch in channels],
                                 [(1, True, False), (2, True, False), (3, True, True), (4, True, False)])
                self.assertEqual((c.find_readable_channel("Simulator_Ramp"), c.find_writable_channel("Simulator_Ramp"),
                                  c.find_writable_channel("Simulator_Setpoint"), c.find_channel("burst_3"),
                                  c.find_readable_channel("nope")), (2, 0, 3, 1004, 0))
                with self.assertRaises(orvexa.ChannelNotFound):
                    c.read_value("nope")

                value = f32(0.1) if scheme == "tcp" else f32(1.1)
                before = int(time.time())
                c.write_value("Simulator_Setpoint", value)
                reading = c.read_value("Simulator_Setpoint")
                self.assertEqual(reading.value, value)
                self.assertLessEqual(abs(reading.time - before), 2)
                stamp = c.write_value_timed(3, -2.5)
                self.assertLessEqual(abs(stamp - before), 2)
                self.assertEqual(c.read_value(3).value, -2.5)
                self.assertTrue(-1.0 <= c.read_value("Simulator_Sine").value <= 1.0)
                self.assertEqual(c.read_value(0).value, 0.0)

                self.assertEqual(c.control_status(), orvexa.ControlStatus(0, None))
                observer = self.connect(scheme, kind="observer")
                self.assertEqual(c.list_controllers(), ["127.0.0.1"])  # observers are not listed
                observer.write_value("Simulator_Setpoint", 99.0)  # ignored by the server
                self.assertEqual(observer.read_value(3).value, -2.5)

                # BatchReplies: replies held back, then all in one message; a refusal
                # inside does not disturb the replies after it.
                with c.batch() as batch:
                    readings = [batch.read_value(n) for n in (1, 2, 3, 4)]
                    stop = batch.stop_recording()
                    batch.write_value(3, 7.0)
                    status = batch.control_status()
                self.assertEqual(readings[2].value.value, -2.5)
                self.assertTrue(all(isinstance(p.value, orvexa.Reading) for p in readings))
                with self.assertRaises(orvexa.Refused):
                    stop.value
                self.assertEqual(status.value.state, 0)
                self.assertEqual(c.read_value(3).value, 7.0)
                with c.batch() as batch:  # more than one BatchReplies can hold
                    many = [batch.read_value(1 + k % 4) for k in range(300)]
                self.assertEqual(many[298].value.value, 7.0)

    def test_history_and_fast_samples(self):
        for scheme in TRANSPORTS:
            with self.subTest(transport=scheme), self.clients():
                c = self.connect(scheme)
                # Mode 2 window of 100 s from a logged time: exact values and times.
                h = c.read_history("Simulator_Ramp", self.first_time + 10, orvexa.HISTORY_WINDOW,
                                   orvexa.window_limit(99))
                self.assertEqual(list(h.times), list(range(self.first_time + 10, self.first_time + 110)))
                self.assertEqual(list(h.values), [logged_value(k) for k in range(10, 110)])
                self.assertEqual(h[0], orvexa.HistorySample(self.first_time + 10, logged_value(10)))
                thinned = c.read_history(2, self.first_time, 2, orvexa.window_limit(3600, orvexa.THIN_MINUTE))
                self.assertEqual([t - self.first_time for t in thinned.times], list(range(0, 3601, 60)))
                self.assertEqual(len(c.read_history("Simulator_Sine", 3600)), 0)  # not logged
                with self.assertRaises(ValueError):
                    c.read_history(2, 0x80000000)

                # The largest reply: 131072 samples of a full window, oldest first.
                h = c.read_history(2, self.first_time, 2, orvexa.window_limit(0xFFFFFF))
                self.assertEqual(len(h), orvexa.MAX_HISTORY)
                self.assertEqual((h.times[0], h.times[-1]), (self.first_time, self.first_time + 131071))
                self.assertEqual(h.values[131071], logged_value(131071))
                self.assertGreater(c.read_value(2).time, 0)  # the connection goes on

                last = c.read_fast_samples("Simulator_Sine", 5, maximum=3)
                self.assertEqual(len(last.samples), 3)
                seqs = [s.sequence for s in last.samples]
                self.assertEqual(seqs, [last.newest, last.newest - 1, last.newest - 2])
                since = c.read_fast_samples(1, last.newest - 2, since=True, with_time=True)
                self.assertGreaterEqual(len(since.samples), 3)
                self.assertEqual(since.samples[-1].sequence, last.newest - 2)
                self.assertEqual(since.samples[-1].value, last.samples[2].value)
                ticks = [s.time_ms for s in since.samples]
                self.assertEqual(ticks, sorted(ticks, reverse=True))
                self.assertEqual(c.read_fast_samples(1, last.newest + 100000, since=True), orvexa.FastSamples([], None))
                self.assertEqual(c.read_fast_samples(3, 5).samples, [])  # not fast-logged

    def test_experiments(self):
        for scheme in TRANSPORTS:
            with self.subTest(transport=scheme), self.clients():
                c = self.connect(scheme)
                owner = 40 + len(scheme)
                with c.experiment(["Simulator_Sine", "Simulator_Ramp"], owner_key=owner, capacity=50) as run:
                    self.assertTrue(c.is_recording(run.id))
                    wait_for(lambda: c.read_experiment(run.id, [(1, 0, 0)])[0].stored >= 50, 10, "50 samples")
                self.assertFalse(c.is_recording(run.id))
                data = run.read()
                sine, ramp = data["Simulator_Sine"], data["Simulator_Ramp"]
                self.assertEqual((sine.stored, len(sine)), (50, 50))  # a full, non-ring slot
                self.assertEqual(list(sine.sequences), list(range(50)))
                self.assertEqual(list(sine.times), sorted(sine.times))
                self.assertGreaterEqual(len(ramp), 1)
                self.assertTrue(all(-1.0 <= v <= 1.0 for v in sine.values))
                window = c.read_experiment(run.id, [("Simulator_Sine", 10, 5), (4, 0, 10)])
                self.assertEqual([s.channel for s in window], [1, 4])
                self.assertEqual([s.sequence for s in window[0]], [10, 11, 12, 13, 14])
                self.assertEqual(window[0][0], sine[10])
                self.assertIsNone(window[1].stored)  # Simulator_Output was not recorded

                listed = c.list_experiments(owner)
                self.assertEqual([(e.id, e.recording, e.client_address) for e in listed], [(run.id, False, "127.0.0.1")])
                self.assertLessEqual(listed[0].start_time, listed[0].stop_time)
                self.assertEqual([(e.id, e.owner_key, e.burst) for e in c.list_all_experiments(run.id, run.id)],
                                 [(run.id, owner, False)])
                self.assertEqual(orvexa.Experiment.existing(c, run.id).channels, [1, 2])
                with self.assertRaises(orvexa.Refused):
                    c.stop_recording()
                with self.assertRaises(orvexa.Refused):
                    c.read_experiment(0x7FFFFFF0, [1])

                ring_id = c.start_recording([1], owner_key=owner, capacity=10, ring=True)
                wait_for(lambda: c.read_experiment(ring_id, [(1, 0, 0)])[0].stored == 10 and
                         c.read_experiment(ring_id, [1])[0].sequences[0] >= 20, 10, "the ring to turn")
                self.assertEqual(c.stop_recording(), ring_id)
                kept = c.read_experiment(ring_id, [1])[0]
                self.assertEqual(list(kept.sequences), list(range(kept.sequences[0], kept.sequences[0] + 10)))

    def test_burst(self):
        for scheme in TRANSPORTS:
            with self.subTest(transport=scheme), self.clients():
                c = self.connect(scheme, kind="observer")  # any client may run a burst
                run = orvexa.Experiment.burst(c, "sweep", 200)
                columns = run.read()
                self.assertEqual(list(columns), [f"burst_{k}" for k in range(8)])
                for k, slot in enumerate(columns.values()):
                    self.assertEqual((slot.stored, len(slot)), (200, 200))
                    self.assertEqual(list(slot.sequences), list(range(200)))
                    self.assertEqual(list(slot.times), list(range(200)))
                    self.assertAlmostEqual(slot.values[50], math.sin(2 * 3.141592653589793 * (k + 1) * 50 / 200), places=5)
                self.assertFalse(c.is_recording(run.id))
                self.assertTrue(orvexa.Experiment.existing(c, run.id).is_burst)
                self.assertIn(run.id, [e.id for e in c.list_experiments(0)])
                self.assertIn((run.id, True), [(e.id, e.burst) for e in c.list_all_experiments()])
                with self.assertRaises(orvexa.Refused):
                    c.run_burst("no such burst", 10)
                self.assertTrue(c.closed)  # the server ends the connection on that

    def test_websocket_reply_is_one_message(self):
        def fragmented(peer):
            peer.hello()
            peer.request(7)  # WriteValue: answered by an empty message
            peer.send(b"")
            peer.request(3)
            peer.send(struct.pack(">f", 1.25), struct.pack(">I", 77), ping_between=True)
            peer.wait_for_close()
            assert peer.pongs == [b"ping"], peer.pongs

        stand_in = StandIn(fragmented, websocket=True)
        with orvexa.connect(stand_in.url, timeout=30) as c:
            c.write_value(3, 2.0)
            self.assertEqual(c.read_value(1), orvexa.Reading(1.25, 77))
        stand_in.join()

        def batch_of_two(c):
            with c.batch():
                c.read_value(1)
                c.read_value(2)

        # A reply longer than its request's is malformed at once, and so is a shorter
        # one: the stand-in keeps the connection open, so only the message's end tells.
        for name, request, reply, call in (
                ("extra bytes", 3, struct.pack(">fIf", 1.25, 77, -6.26e18), lambda c: c.read_value(1)),
                ("short", 1, b"\0\0\0\0", lambda c: c.control_status()),
                ("batch with extra bytes", 8, bytes(19), batch_of_two)):
            with self.subTest(name):
                def serve(peer):
                    peer.hello()
                    peer.request(request)
                    peer.send(reply)
                    peer.wait_for_close()

                stand_in = StandIn(serve, websocket=True)
                c = orvexa.connect(stand_in.url, timeout=30)
                with self.assertRaisesRegex(orvexa.ProtocolError, "malformed reply"):
                    call(c)
                self.assertTrue(c.closed)
                stand_in.join()

    def test_fast_stream_is_gap_free_for_ten_seconds_at_1000_hz(self):
        self._open = []
        c = self.connect("ws")
        self.addCleanup(c.close)
        stream = c.fast_stream("Simulator_Sine", seconds=10.0, interval=0.05)
        samples = list(stream)
        self.assertEqual(stream.gaps, [])
        # About 10000 samples; a sampler starved by a busy machine skips ticks, which
        # shows as fewer samples, never as missing sequence numbers.
        self.assertGreater(len(samples), 8000)
        first = samples[0].sequence
        self.assertEqual([s.sequence for s in samples], list(range(first, first + len(samples))))
        ticks = [s.time_ms for s in samples]
        self.assertEqual(ticks, sorted(ticks))
        self.assertLess(ticks[-1] - ticks[0], 11000)


if __name__ == "__main__":
    unittest.main()
