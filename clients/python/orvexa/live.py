"""``orvexa.live``: a viewer of one lab's live data through the MQTT broker the server
publishes to (topics ``orvexa/v1/<lab>/...``), for a class of viewers that should not
each hold a server connection. Read only: control, writes and experiments stay with
``orvexa.connect``.

Needs the ``paho-mqtt`` client (Debian's ``python3-paho-mqtt``; a venv made with
``--system-site-packages`` sees it); importing this module without it raises ImportError.
paho's network thread receives; the iterators hand messages to the caller's thread
through bounded queues, so a caller that stops reading loses old messages (reported as
gaps) instead of growing memory.
"""

import json
import queue
import struct
import threading
import time
from collections import namedtuple
from urllib.parse import unquote, urlsplit

import paho.mqtt.client as paho

from .errors import ConnectError

PREFIX = "orvexa/v1/"
QUEUE_LIMIT = 1000

LiveValues = namedtuple("LiveValues", "frame time values")  # values: {channel number: value}
FastSample = namedtuple("FastSample", "sequence time_ms value")


class MalformedLiveMessage(Exception):
    """A live message without the layout of its topic."""

    def __init__(self, topic, reason):
        super().__init__(f"{topic}: {reason}")
        self.topic = topic


def topic_level(channel_id):
    """The topic level of a channel ID, as the server forms it."""
    return "".join("_" if c in "/+#" or c <= " " else c for c in channel_id)


def decode_values(payload):
    """values: u32 frame, f64 time, u16 n, n x (u16 channel, f32 value), little endian."""
    if len(payload) < 14:
        raise ValueError(f"values frame of {len(payload)} bytes")
    frame, moment, count = struct.unpack_from("<IdH", payload, 0)
    if len(payload) != 14 + 6 * count:
        raise ValueError(f"values frame of {len(payload)} bytes for {count} channels")
    values = {}
    for i in range(count):
        number, value = struct.unpack_from("<Hf", payload, 14 + 6 * i)
        values[number] = value
    return LiveValues(frame, moment, values)


def decode_fast(payload):
    """fast: u32 first, u32 n, f64 send time, n x (u32 tick, f32 value). Returns
    (first, samples)."""
    if len(payload) < 16:
        raise ValueError(f"fast batch of {len(payload)} bytes")
    first, count, _sent = struct.unpack_from("<IId", payload, 0)
    if len(payload) != 16 + 8 * count:
        raise ValueError(f"fast batch of {len(payload)} bytes for {count} samples")
    samples = [FastSample((first + i) & 0xFFFFFFFF, *struct.unpack_from("<If", payload, 16 + 8 * i))
               for i in range(count)]
    return first, samples


class Live:
    """One lab's live data. ``url``: mqtt://host[:port], ws://host:port/path or
    wss://host/mqtt. ``on_error(error)`` gets each MalformedLiveMessage (default: kept
    in ``errors``)."""

    def __init__(self, url, lab_id, username=None, password=None, timeout=10.0, on_error=None):
        parts = urlsplit(url)
        if parts.scheme not in ("mqtt", "tcp", "ws", "wss") or not parts.hostname:
            raise ValueError(f"not a broker address: {url!r} (mqtt://host[:port], ws:// or wss://)")
        self.prefix = f"{PREFIX}{lab_id}/"
        self.errors = []
        self.on_error = on_error
        self.latest = {}
        self._lock = threading.Lock()
        self._changed = threading.Condition(self._lock)
        self._values = queue.Queue(QUEUE_LIMIT)
        self._fast = {}  # topic -> queue of (first, samples)
        self._connected = threading.Event()
        transport = "websockets" if parts.scheme in ("ws", "wss") else "tcp"
        self._client = paho.Client(transport=transport)
        if transport == "websockets":
            self._client.ws_set_options(path=parts.path or "/mqtt")
        if parts.scheme == "wss":
            self._client.tls_set()
        user = username if username is not None else (unquote(parts.username) if parts.username else None)
        if user is not None:
            self._client.username_pw_set(user, password if password is not None else
                                         (unquote(parts.password) if parts.password else None))
        self._client.on_connect = self._on_connect
        self._client.on_message = self._on_message
        port = parts.port or {"mqtt": 1883, "tcp": 1883, "ws": 80, "wss": 443}[parts.scheme]
        self._client.connect_async(parts.hostname, port, keepalive=10)
        self._client.loop_start()
        if not self._connected.wait(timeout):
            self.close()
            raise ConnectError(f"no answer from the broker at {url} within {timeout:g} s")

    def close(self):
        self._client.disconnect()
        self._client.loop_stop()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    # -- reading -------------------------------------------------------------------------

    def wait_for(self, leaf, timeout=10.0):
        """The latest decoded message of a retained topic ('status', 'channels', 'values',
        'control', 'experiments'), waiting up to `timeout`; None if none came."""
        with self._changed:
            self._changed.wait_for(lambda: leaf in self.latest, timeout)
            return self.latest.get(leaf)

    def values(self, seconds=None):
        """Yields each LiveValues frame as it arrives (for `seconds`, or until the caller
        stops)."""
        end = None if seconds is None else time.monotonic() + seconds
        while end is None or time.monotonic() < end:
            try:
                yield self._values.get(timeout=0.2)
            except queue.Empty:
                continue

    def fast(self, channel_id, seconds=None, on_gap=None):
        """Yields every FastSample of a fast-logged channel from now on, oldest first.
        Samples missed on the way are reported to on_gap(first_missing, count), as
        ``orvexa`` fast streams do."""
        topic = f"{self.prefix}fast/{topic_level(channel_id)}"
        batches = queue.Queue(QUEUE_LIMIT)
        with self._lock:
            self._fast[topic] = batches
        self._client.subscribe(topic)
        end = None if seconds is None else time.monotonic() + seconds
        expected = None
        try:
            while end is None or time.monotonic() < end:
                try:
                    first, samples = batches.get(timeout=0.2)
                except queue.Empty:
                    continue
                if expected is not None and first != expected and on_gap is not None:
                    on_gap(expected, (first - expected) & 0xFFFFFFFF)
                expected = (first + len(samples)) & 0xFFFFFFFF
                yield from samples
        finally:
            with self._lock:
                self._fast.pop(topic, None)
            self._client.unsubscribe(topic)

    # -- paho's thread -------------------------------------------------------------------

    def _on_connect(self, client, _userdata, _flags, rc):
        if rc != 0:
            return
        client.subscribe([(self.prefix + leaf, 0) for leaf in
                          ("status", "channels", "values", "control", "experiments")])
        with self._lock:
            for topic in self._fast:
                client.subscribe(topic)
        self._connected.set()

    def _on_message(self, _client, _userdata, message):
        topic = message.topic
        if not topic.startswith(self.prefix):
            return
        leaf = topic[len(self.prefix):]
        try:
            if leaf.startswith("fast/"):
                batch = decode_fast(message.payload)
                with self._lock:
                    target = self._fast.get(topic)
                if target is not None:
                    _put_bounded(target, batch)
                return
            if leaf == "values":
                decoded = decode_values(message.payload)
                _put_bounded(self._values, decoded)
            elif leaf == "status":
                decoded = message.payload.decode("utf-8", "replace")
            elif leaf in ("channels", "control", "experiments"):
                decoded = json.loads(message.payload)
            else:
                return
        except (ValueError, struct.error) as e:
            error = MalformedLiveMessage(topic, str(e))
            self.errors.append(error)
            if self.on_error is not None:
                self.on_error(error)
            return
        with self._changed:
            self.latest[leaf] = decoded
            self._changed.notify_all()


def _put_bounded(target, item):
    """Drops the oldest item of a full queue: a slow reader sees a gap, memory stays bounded."""
    while True:
        try:
            target.put_nowait(item)
            return
        except queue.Full:
            try:
                target.get_nowait()
            except queue.Empty:
                pass
