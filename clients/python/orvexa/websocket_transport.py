"""WebSocket transport (RFC 6455, version 13, binary messages) over TCP or TLS.

Created by ``orvexa.connect`` for ws:// and wss:// addresses (wss:// reaches the
server through a TLS-terminating proxy such as nginx); used by one ``Client`` on the
caller's thread. Requests go out as masked binary frames. The server answers every
request (or batch) with exactly one binary message, a large one in several fragments:
a reply is decoded from one message, and a reply that is shorter or longer than its
message is reported as malformed at once, so it can never shift into the next reply.
Pings are answered, pongs skipped.
"""

import base64
import hashlib
import os

from .errors import ConnectError, ConnectionLost, ProtocolError, Refused
from .tcp_transport import TcpTransport

_GUID = b"258EAFA5-E914-47DA-95CA-C5AB0DC85B11"
# The server reads 7- and 16-bit frame lengths only.
MAX_FRAME = 0xFFFF
# Longest frame taken from the server (it sends at most MAX_FRAME bytes a frame): a
# length field must not make the client wait for, or allocate, gigabytes.
MAX_INCOMING_FRAME = 1 << 24
_OP_CONTINUATION, _OP_TEXT, _OP_BINARY, _OP_CLOSE, _OP_PING, _OP_PONG = 0, 1, 2, 8, 9, 10


def accept_value(key):
    """Sec-WebSocket-Accept for a Sec-WebSocket-Key (both ASCII bytes)."""
    return base64.b64encode(hashlib.sha1(key + _GUID).digest())


def _masked(payload):
    key = os.urandom(4)
    n = len(payload)
    if n == 0:
        return key
    mask = (key * (n // 4 + 1))[:n]
    data = (int.from_bytes(payload, "little") ^ int.from_bytes(mask, "little")).to_bytes(n, "little")
    return key + data


def client_frame(opcode, payload):
    """One final, masked client frame."""
    n = len(payload)
    if n < 126:
        header = bytes((0x80 | opcode, 0x80 | n))
    elif n <= MAX_FRAME:
        header = bytes((0x80 | opcode, 0x80 | 126, n >> 8, n & 0xFF))
    else:
        raise ValueError("frame payload longer than 65535 bytes")
    return header + _masked(payload)


class WebSocketTransport:
    """Same interface as TcpTransport; ``send`` takes the pieces of a request that may
    not be split (one protocol item never spans two frames)."""

    def __init__(self, host, port, path, timeout, ssl_context=None, extra_headers=()):
        self._raw = TcpTransport(host, port, timeout, ssl_context)
        self._message = b""  # the reply being decoded and the bytes of it taken
        self._pos = 0
        self._close_frame = False
        try:
            self._handshake(host, port, path or "/", extra_headers)
        except ConnectionLost as e:
            self._raw.close()
            raise ConnectError(f"WebSocket upgrade failed: {e}") from e

    def _handshake(self, host, port, path, extra_headers):
        key = base64.b64encode(os.urandom(16))
        lines = [f"GET {path} HTTP/1.1", f"Host: {host}:{port}", "Upgrade: websocket",
                 "Connection: Upgrade", f"Sec-WebSocket-Key: {key.decode()}",
                 "Sec-WebSocket-Version: 13", *extra_headers]
        self._raw.send(("\r\n".join(lines) + "\r\n\r\n").encode())
        status = self._raw.read_line().decode("latin-1").strip()
        headers = {}
        while True:
            line = self._raw.read_line().decode("latin-1").strip()
            if not line:
                break
            name, _, value = line.partition(":")
            headers[name.strip().lower()] = value.strip()
        parts = status.split(None, 2)
        if len(parts) < 2 or parts[1] != "101":
            self._raw.close()
            raise ConnectError(f"WebSocket upgrade refused: {status or 'no answer'}")
        if headers.get("sec-websocket-accept", "").encode() != accept_value(key):
            self._raw.close()
            raise ConnectError("WebSocket upgrade answered with a wrong Sec-WebSocket-Accept")

    def send(self, data, pieces=None):
        """Sends `data` in one frame, or, when longer than a frame holds, in frames cut
        only between the given pieces (whose concatenation is `data`)."""
        if len(data) <= MAX_FRAME:
            self._raw.send(client_frame(_OP_BINARY, data))
            return
        frames, current = [], b""
        for piece in pieces or [data]:
            if current and len(current) + len(piece) > MAX_FRAME:
                frames.append(client_frame(_OP_BINARY, current))
                current = b""
            current += piece
        frames.append(client_frame(_OP_BINARY, current))
        self._raw.send(b"".join(frames))

    def read_reply(self, n):
        """The next reply, which must be exactly n bytes."""
        message = self._next_message()
        if len(message) != n:
            raise self._malformed(f"{len(message)} bytes where {n} were expected")
        return message

    def reply(self, decode):
        """decode(read) on the next message; the decoder must take all of it."""
        self._message = self._next_message()
        self._pos = 0
        try:
            value = decode(self._take)
        except Refused:
            self._check_taken()
            raise
        self._check_taken()
        return value

    def _take(self, n):
        start = self._pos
        end = start + n
        if end > len(self._message):
            raise self._malformed(f"{n} bytes needed at byte {start}, {len(self._message) - start} left")
        self._pos = end
        return self._message[start:end]

    def _check_taken(self):
        left = len(self._message) - self._pos
        self._message = b""
        if left:
            raise self._malformed(f"{left} unexpected bytes after the reply")

    def _malformed(self, what):
        self.close()
        return ProtocolError(f"malformed reply: {what}")

    def _next_message(self):
        """The payload of the next data message, its fragments joined. Control frames
        may come between fragments."""
        parts = []
        while True:
            final, opcode, payload = self._next_frame()
            if opcode >= _OP_CLOSE:
                self._control(opcode, payload)
            elif opcode == (_OP_CONTINUATION if parts else _OP_BINARY):
                if final:
                    return b"".join(parts) + payload if parts else payload
                parts.append(payload)
            elif opcode == _OP_TEXT:
                raise self._malformed("a text message instead of a binary reply")
            else:
                self.close()
                raise ProtocolError(f"unexpected WebSocket opcode {opcode}"
                                    f" {'inside' if parts else 'outside'} a fragmented message")

    def _next_frame(self):
        b0, b1 = self._raw.read(2)
        n = b1 & 0x7F
        if n == 126:
            n = int.from_bytes(self._raw.read(2), "big")
        elif n == 127:
            n = int.from_bytes(self._raw.read(8), "big")
        if b1 & 0x80 or b0 & 0x70:
            self.close()
            raise ProtocolError("the server sent a masked frame or set reserved bits")
        if n > MAX_INCOMING_FRAME:
            self.close()
            raise ProtocolError(f"the server announced a frame of {n} bytes")
        return b0 & 0x80, b0 & 0x0F, self._raw.read(n) if n else b""

    def _control(self, opcode, payload):
        if opcode == _OP_CLOSE:
            self._close_frame = True
            self.close()
            raise ConnectionLost("the server closed the connection")
        if opcode == _OP_PING:
            self._raw.send(client_frame(_OP_PONG, payload))
        elif opcode != _OP_PONG:
            self.close()
            raise ProtocolError(f"unexpected WebSocket opcode {opcode}")

    def ended_on_purpose(self):
        """After a ConnectionLost: whether the server ended this connection itself
        (it sends a Close frame first; a server that died sends none)."""
        return self._close_frame

    def set_timeout(self, seconds):
        self._raw.set_timeout(seconds)

    def timeout(self):
        return self._raw.timeout()

    def close(self):
        if not self._raw.closed:
            try:
                self._raw.send(client_frame(_OP_CLOSE, b""))
            except ConnectionLost:
                pass
        self._raw.close()

    @property
    def closed(self):
        return self._raw.closed
