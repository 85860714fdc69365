"""``Client.fast_stream()``: every fast sample of a channel from the moment the stream
starts, oldest first, by polling ReadFastSamples for all samples since the last
sequence seen plus one.

The server keeps a bounded buffer per channel; a client that polls too slowly, or a
buffer that restarts its numbering, loses samples. The stream notices both and reports
them as gaps (``gaps`` and the ``on_gap`` callback) instead of passing over them in
silence. Iterated on the client's thread; the pauses between polls are the stream's.
"""

import time

_HALF = 1 << 31


class FastStream:
    """Iterable of ``FastSample(sequence, time_ms, value)``.

    seconds: stop after that long (None: until the caller stops iterating).
    interval: seconds between polls; the buffer must not fill up in that time.
    on_gap(first_missing, count): called for each gap; count is None when the
    server's numbering restarted and the number of lost samples is unknown.
    """

    def __init__(self, client, channel, seconds=None, interval=0.05, on_gap=None):
        self._client = client
        self.channel = channel
        self.seconds = seconds
        self.interval = interval
        self.on_gap = on_gap
        self.gaps = []
        self.received = 0

    def _gap(self, first, count):
        self.gaps.append((first, count))
        if self.on_gap is not None:
            self.on_gap(first, count)

    def __iter__(self):
        client = self._client
        start = time.monotonic()
        end = None if self.seconds is None else start + self.seconds
        latest = client.read_fast_samples(self.channel, 1)
        expected = 0 if latest.newest is None else (latest.newest + 1) & 0xFFFFFFFF
        last_data = start
        next_poll = start
        while True:
            now = time.monotonic()
            reply = client.read_fast_samples(self.channel, expected, since=True, with_time=True)
            if reply.samples:
                oldest = (reply.newest - len(reply.samples) + 1) & 0xFFFFFFFF
                missing = (oldest - expected) & 0xFFFFFFFF
                if 0 < missing < _HALF:
                    self._gap(expected, missing)
                self.received += len(reply.samples)
                yield from reversed(reply.samples)
                expected = (reply.newest + 1) & 0xFFFFFFFF
                last_data = now
            elif now - last_data > 1.0:
                # Nothing new for a while: a buffer whose numbering restarted answers
                # nothing since `expected` for ever. Its newest sequence tells.
                probe = client.read_fast_samples(self.channel, 1)
                if probe.newest is not None and 0 < (expected - 1 - probe.newest) & 0xFFFFFFFF < _HALF:
                    self._gap(expected, None)
                    expected = 0
                last_data = now
            if end is not None and now >= end:
                return
            next_poll += self.interval
            pause = next_poll - time.monotonic()
            if pause > 0:
                time.sleep(pause if end is None else min(pause, max(0.0, end - time.monotonic())))
            else:
                next_poll = time.monotonic()
