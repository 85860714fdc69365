"""The client of the Orvexa request protocol: one method per request, replies decoded
into the plain records of ``records``.

A ``Client`` comes from ``orvexa.connect`` and belongs to one thread. Channels are
given by wire number (int) or by channel ID (str); an ID is looked up once per client
with the find request that fits the method (the server's channel table is fixed while
it runs). Every request is answered before the next is sent, except inside
``batch()``, where requests are queued and their replies come back together. The
transport hands each reply to its decoder (``reply``); over WebSocket a reply is
exactly one message.
"""

import functools
import struct

from . import wire
from .batch import Batch, Pending
from .errors import ChannelNotFound, ConnectionLost, NotAuthorised, Refused
from .experiment import Experiment
from .fast_stream import FastStream
from .protocol import (FAST_SINCE, FAST_WITH_TIME, HELLO_ADMITTED, HELLO_NOT_AUTHORISED,
                       HELLO_WRONG_VERSION, HISTORY_ALL, KINDS, MAX_RECORDING_CAPACITY,
                       PROTOCOL_VERSION, THIN_NONE, Request)
from .records import (Channel, ControlStatus, ExperimentInfo, ExperimentSlot, FastSample,
                      FastSamples, History, Reading, address_text)

_FIND_READABLE = Request.FIND_READABLE_CHANNEL
_FIND_WRITABLE = Request.FIND_WRITABLE_CHANNEL
_FIND_ANY = Request.FIND_CHANNEL
_KIND_NAMES = {_FIND_READABLE: "readable channel", _FIND_WRITABLE: "writable channel",
               _FIND_ANY: "channel"}


def window_limit(seconds, thinning=THIN_NONE):
    """The limit argument of a mode-2 history request: a window of `seconds` (at most
    0xFFFFFF) thinned by `thinning` (0-23: first sample in that hour, 24: none,
    25-29: one sample per minute, 10 minutes, hour, 3 hours, 6 hours)."""
    if not 0 <= seconds <= 0xFFFFFF or not 0 <= thinning <= 31:
        raise ValueError("window of 0..16777215 s and thinning code 0..31")
    return (thinning << 24) | seconds


def _code(request):
    """The first byte of a request."""
    return bytes((request,))


def _read_none(read):
    return None


class Client:
    """A connection that has passed the opening exchange."""

    def __init__(self, transport, url, kind):
        self._transport = transport
        self._reply = transport.reply
        self._read_reply = transport.read_reply
        self.url = url
        self.kind = kind
        self._numbers = {}
        self._queue = None  # list of (request bytes, decoder, Pending) inside batch()

    # -- life ---------------------------------------------------------------------------

    def hello(self, credential=b""):
        """The opening exchange; called by connect(). `credential` (str or bytes, at
        most 253 bytes) is the token a server with authentication checks."""
        request = wire.U16.pack(PROTOCOL_VERSION) + bytes((KINDS[self.kind],)) + wire.string(credential)
        self._transport.send(request)
        answer = self._read_reply(1)[0]
        if answer == HELLO_ADMITTED:
            return
        self.close()
        if answer == HELLO_NOT_AUTHORISED:
            given = "did not accept this token" if credential else "asks for a token"
            raise NotAuthorised(f"not authorised: the server {given} for {_KIND_ARTICLES[self.kind]}")
        if answer == HELLO_WRONG_VERSION:
            raise Refused(f"the server refused protocol version {PROTOCOL_VERSION}")
        raise Refused(f"the server refused the opening (answer {answer})")

    def close(self):
        self._transport.close()

    @property
    def closed(self):
        return self._transport.closed

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    # -- plumbing -----------------------------------------------------------------------

    def _call(self, request, decode=_read_none):
        if self._queue is not None:
            pending = Pending()
            self._queue.append((request, decode, pending))
            return pending
        self._transport.send(request)
        return self._reply(decode)

    def _now(self, request, decode):
        """A request sent at once even inside a batch (channel look-ups)."""
        self._transport.send(request)
        return self._reply(decode)

    def _number(self, channel, find=_FIND_READABLE):
        if isinstance(channel, str):
            key = (find, channel)
            number = self._numbers.get(key)
            if number is None:
                number = self._now(_code(find) + wire.string(channel), _read_u16)
                if number == 0:
                    raise ChannelNotFound(channel, _KIND_NAMES[find])
                self._numbers[key] = number
            return number
        if isinstance(channel, bool) or not isinstance(channel, int) or not 0 <= channel <= 0xFFFF:
            raise ValueError(f"channel must be an ID or a number 0..65535, not {channel!r}")
        return channel

    def channel_number(self, channel, writable=False):
        """The wire number of a channel ID (readable, or writable when asked)."""
        return self._number(channel, _FIND_WRITABLE if writable else _FIND_READABLE)

    # -- requests on channels -------------------------------------------------------------

    def list_channels(self):
        """ListChannels (2): every channel in registry order (empty when listing is off)."""
        return self._call(_code(Request.LIST_CHANNELS), _decode_channels)

    def find_readable_channel(self, channel_id):
        """FindReadableChannel (3): the number of a readable channel or burst slot, 0 if none."""
        return self._call(_code(_FIND_READABLE) + wire.string(channel_id), _read_u16)

    def find_writable_channel(self, channel_id):
        """FindWritableChannel (4): the number of a writable channel, 0 if none."""
        return self._call(_code(_FIND_WRITABLE) + wire.string(channel_id), _read_u16)

    def find_channel(self, channel_id):
        """FindChannel (20): the number of a channel of any kind or a burst slot, 0 if none."""
        return self._call(_code(_FIND_ANY) + wire.string(channel_id), _read_u16)

    def read_value(self, channel):
        """ReadValue (5): ``Reading(value, time)``; 0.0 for a number outside the table."""
        # The polling path: kept to one pack, one send and one receive.
        if type(channel) is not int or not 0 <= channel <= 0xFFFF:
            channel = self._number(channel)
        request = _READ_VALUE.pack(_READ_VALUE_CODE, channel)
        if self._queue is not None:
            return self._call(request, _decode_reading)
        self._transport.send(request)
        return _new_reading(_unpack_reading(self._read_reply(8)))

    def write_value(self, channel, value):
        """WriteValue (6). The server ignores writes of observers and of clients not in
        control without saying so: see ``control_status``."""
        number = self._number(channel, _FIND_WRITABLE)
        return self._call(_code(Request.WRITE_VALUE) + wire.U16.pack(number) + wire.f32(value))

    def write_value_timed(self, channel, value):
        """WriteValueTimed (19): like write_value; answers the server's time."""
        number = self._number(channel, _FIND_WRITABLE)
        return self._call(_code(Request.WRITE_VALUE_TIMED) + wire.U16.pack(number) + wire.f32(value),
                          _read_u32)

    def control_status(self):
        """ControlStatus (7): ``ControlStatus(state, seconds)``."""
        return self._call(_code(Request.CONTROL_STATUS), _decode_control)

    def list_controllers(self):
        """ListControllers (11): addresses of the controlling clients, in queue order."""
        return self._call(_code(Request.LIST_CONTROLLERS), _decode_addresses)

    # -- history and fast samples ---------------------------------------------------------

    def read_history(self, channel, span_or_start, mode=HISTORY_ALL, limit=0):
        """ReadHistory (8), oldest first, at most 131072 samples.

        mode 0: the last `span_or_start` seconds; mode 1: the same, only the first
        sample of each stretch in local hour `limit`; mode 2: from calendar time
        `span_or_start`, limit = ``window_limit(seconds, thinning)``."""
        if not 0 <= span_or_start <= 0x7FFFFFFF:
            raise ValueError("span or start must lie in 0..2147483647")
        request = _code(Request.READ_HISTORY) + wire.U16.pack(self._number(channel)) + wire.U32.pack(span_or_start) \
            + wire.U16.pack(mode) + wire.U32.pack(limit)
        return self._call(request, _decode_history)

    def history_rows(self, channel, span_or_start, mode=HISTORY_ALL, limit=0):
        """read_history as a list of (ISO-8601 UTC time, value) rows."""
        return list(self.read_history(channel, span_or_start, mode, limit).rows())

    def read_fast_samples(self, channel, count_or_first, since=False, with_time=False, maximum=0):
        """ReadFastSamples (12): the last `count_or_first` samples, or (since=True) all
        from sequence `count_or_first` on; at most `maximum` (0: no maximum).

        Samples come newest first. With with_time=True each carries the millisecond
        tick; its sequence is then counted down from the newest (the buffer's sequence
        numbers are consecutive)."""
        flags = (FAST_SINCE if since else 0) | (FAST_WITH_TIME if with_time else 0)
        request = _code(Request.READ_FAST_SAMPLES) + wire.U16.pack(self._number(channel)) + bytes((flags,)) \
            + wire.U32.pack(count_or_first & 0xFFFFFFFF) + wire.U16.pack(maximum)
        return self._call(request, _decode_fast_timed if with_time else _decode_fast)

    def fast_stream(self, channel, seconds=None, interval=0.05, on_gap=None):
        """A ``FastStream``: every fast sample from the newest + 1 on, oldest first,
        gaps reported (see FastStream)."""
        return FastStream(self, self._number(channel), seconds, interval, on_gap)

    # -- experiments and bursts -----------------------------------------------------------

    def start_recording(self, channels, owner_key=0, experiment_id=0,
                        capacity=MAX_RECORDING_CAPACITY, argument=0, ring=False):
        """StartRecording (13): records the fast samples of `channels` (readable ones)
        into a new experiment (or the one named by experiment_id); answers its id.
        A refusal raises Refused. Capacity is per channel, at most 30000."""
        numbers = [self._number(c) for c in channels]
        head = _code(Request.START_RECORDING) + wire.U32.pack(owner_key) + wire.U32.pack(experiment_id) \
            + wire.U32.pack(capacity & 0xFFFFFFFF) + wire.U32.pack(argument) \
            + bytes((1 if ring else 0,)) + wire.U16.pack(len(numbers))
        pieces = [head] + [wire.U16.pack(n) for n in numbers]
        return self._call_pieces(pieces, _refusable("the server refused to start the recording"))

    def stop_recording(self):
        """StopRecording (14): stops this connection's recording; answers its id.
        Refused when nothing is recording or a plug-in refuses."""
        return self._call(_code(Request.STOP_RECORDING), _refusable("no recording to stop, or a plug-in refused"))

    def read_experiment(self, experiment_id, windows):
        """ReadExperiment (15). `windows` lists (channel, first sequence, count), or
        just channels (everything held). One ``ExperimentSlot`` per distinct channel
        number, ascending; Refused when there is no such experiment."""
        entries = []
        for w in windows:
            channel, first, count = w if isinstance(w, (tuple, list)) else (w, 0, 0xFFFFFFFF)
            entries.append(wire.U16.pack(self._number(channel)) + wire.U32.pack(first)
                           + wire.U32.pack(count))
        head = _code(Request.READ_EXPERIMENT) + wire.U32.pack(experiment_id) + wire.U32.pack(len(entries))

        def decode(read):
            k = wire.U32.unpack(read(4))[0]
            if k == wire.REFUSED:
                raise Refused(f"there is no experiment {experiment_id}")
            slots = []
            for _ in range(k):
                channel, stored, n = _SLOT_HEAD.unpack(read(10))
                slots.append(ExperimentSlot.decode(channel, stored, read(12 * n)))
            return slots

        return self._call_pieces([head] + entries, decode)

    def list_experiments(self, owner_key=0, lowest=0, highest=0):
        """ListExperiments (16): experiments of `owner_key` with lowest <= id <= highest
        (highest 0: no upper bound)."""
        request = _code(Request.LIST_EXPERIMENTS) + wire.U32.pack(owner_key) + wire.U32.pack(lowest) + wire.U32.pack(highest)
        return self._call(request, _decode_experiments)

    def list_all_experiments(self, lowest=0, highest=0):
        """ListAllExperiments (64): every experiment and burst held with lowest <= id <=
        highest (highest 0: no upper bound), whoever started it, each with its owner key
        and burst flag."""
        request = _code(Request.LIST_ALL_EXPERIMENTS) + wire.U32.pack(lowest) + wire.U32.pack(highest)
        return self._call(request, lambda read: _decode_experiments(read, with_owner=True))

    def is_recording(self, experiment_id):
        """IsRecording (18)."""
        return self._call(_code(Request.IS_RECORDING) + wire.U32.pack(experiment_id), _decode_bool)

    def run_burst(self, name, duration):
        """RunBurst (17): a plug-in records burst `name` for `duration` (its unit; ms
        for the simulator's "sweep") and the result is stored as an experiment whose
        columns are the channels 1001..1008; answers the id. A name no plug-in knows
        makes the server close the connection: Refused, and the client is closed. A
        server that dies or stops answering meanwhile is a ConnectionLost."""
        if self._queue is not None:
            raise RuntimeError("run_burst cannot be batched")
        request = _code(Request.RUN_BURST) + wire.string(name) + wire.U32.pack(duration)
        timeout = self._transport.timeout()
        if timeout is not None:
            self._transport.set_timeout(timeout + duration / 1000.0)
        try:
            self._transport.send(request)
            return wire.U32.unpack(self._read_reply(4))[0]
        except ConnectionLost as e:
            self.close()
            if not self._transport.ended_on_purpose():
                raise
            raise Refused(f"the server ended the connection: no plug-in records burst {name!r}"
                          f" ({e})") from e
        finally:
            if timeout is not None and not self.closed:
                self._transport.set_timeout(timeout)

    def experiment(self, channels, **options):
        """An ``Experiment`` helper for `channels` (not started yet; use it in a with
        block or call start())."""
        return Experiment(self, channels, **options)

    # -- batches --------------------------------------------------------------------------

    def batch(self):
        """Context manager (BatchReplies): requests made inside return ``Pending``
        objects, are sent together when the block ends, and their replies arrive in
        one message; ``pending.value`` then holds each reply."""
        return Batch(self)

    def _call_pieces(self, pieces, decode):
        data = b"".join(pieces)
        if self._queue is not None:
            return self._call(data, decode)
        self._transport.send(data, pieces)
        return self._reply(decode)

    def _send_batch(self, queue):
        """Sends queued requests under BatchReplies (at most 255 per batch) and fills in
        their Pending objects."""
        for start in range(0, len(queue), 255):
            part = queue[start:start + 255]
            pieces = [_code(Request.BATCH_REPLIES) + bytes((len(part),))] + [request for request, _, _ in part]
            self._transport.send(b"".join(pieces), pieces)
            self._reply(functools.partial(_decode_batch, part))


_KIND_ARTICLES = {"controller": "a controller", "observer": "an observer"}
_SLOT_HEAD = struct.Struct(">HII")
_READ_VALUE = struct.Struct(">BH")
_READ_VALUE_CODE = int(Request.READ_VALUE)
_unpack_reading = wire.F32_U32.unpack
# tuple.__new__ straight away: Reading._make adds a Python-level length check.
_new_reading = functools.partial(tuple.__new__, Reading)


def _decode_batch(part, read):
    """The replies of one BatchReplies, one after the other in one message."""
    for _, decode, pending in part:
        try:
            pending._set(decode(read))
        except Refused as e:  # the reply was read whole; the rest still follow
            pending._fail(e)


def _read_u16(read):
    return wire.U16.unpack(read(2))[0]


def _read_u32(read):
    return wire.U32.unpack(read(4))[0]


def _decode_bool(read):
    return read(1)[0] != 0


def _decode_reading(read):
    return Reading._make(wire.F32_U32.unpack(read(8)))


def _decode_control(read):
    state, seconds = wire.U32_PAIR.unpack(read(8))
    if state >= 0x80000000:
        state -= 1 << 32
    return ControlStatus(state, None if seconds == wire.REFUSED else seconds)


def _decode_string(read):
    return read(wire.U16.unpack(read(2))[0]).decode("utf-8", "replace")


def _decode_channels(read):
    channels = []
    for number in range(1, _read_u32(read) + 1):
        flags = read(1)[0]
        cid = _decode_string(read)
        channels.append(Channel(number, cid, _decode_string(read), bool(flags & 1), bool(flags & 2)))
    return channels


def _decode_addresses(read):
    return [address_text(read(4)) for _ in range(_read_u32(read))]


def _decode_history(read):
    n = _read_u32(read)
    return History.decode(read(8 * n)) if n else History()


def _decode_fast(read):
    n = _read_u32(read)
    if n == 0:
        return FastSamples([], None)
    samples = [FastSample(s, None, v) for s, v in wire.U32_F32.iter_unpack(read(8 * n))]
    return FastSamples(samples, _read_u32(read))


def _decode_fast_timed(read):
    n = _read_u32(read)
    if n == 0:
        return FastSamples([], None)
    body = read(8 * n)
    newest = _read_u32(read)
    samples = [FastSample((newest - i) & 0xFFFFFFFF, t, v)
               for i, (t, v) in enumerate(wire.U32_F32.iter_unpack(body))]
    return FastSamples(samples, newest)


def _decode_experiments(read, with_owner=False):
    out = []
    for _ in range(_read_u32(read)):
        eid, recording, start, stop = _EXPERIMENT.unpack(read(13))
        entry = ExperimentInfo(eid, recording != 0, start, stop, address_text(read(4)))
        if with_owner:
            owner, burst = _OWNER_AND_BURST.unpack(read(5))
            entry = entry._replace(owner_key=owner, burst=burst != 0)
        out.append(entry)
    return out


_EXPERIMENT = struct.Struct(">IBII")
_OWNER_AND_BURST = struct.Struct(">IB")


def _refusable(message):
    def decode(read):
        value = _read_u32(read)
        if value == wire.REFUSED:
            raise Refused(message)
        return value
    return decode
