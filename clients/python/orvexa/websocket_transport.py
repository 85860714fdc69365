"""WebSocket transport (RFC 6455, version 13, binary messages) over TCP or TLS.

Created by ``orvexa.connect`` for ws:// and wss:// addresses (wss:// reaches the
server through a TLS-terminating proxy such as nginx); used by one ``Client`` on the
caller's thread. Requests go out as masked binary frames; the server's reply frames
(a large reply comes as several fragments) are joined into one byte stream, so the
client reads replies exactly as on plain TCP. Pings are answered.
"""

import base64
import hashlib
import os

from .errors import ConnectError, ConnectionLost, ProtocolError
from .tcp_transport import TcpTransport

_GUID = b"258EAFA5-E914-47DA-95CA-C5AB0DC85B11"
# The server reads 7- and 16-bit frame lengths only.
MAX_FRAME = 0xFFFF


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
        self._buf = bytearray()
        self._pos = 0
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
            self._raw.send(client_frame(2, data))
            return
        frames, current = [], b""
        for piece in pieces or [data]:
            if current and len(current) + len(piece) > MAX_FRAME:
                frames.append(client_frame(2, current))
                current = b""
            current += piece
        frames.append(client_frame(2, current))
        self._raw.send(b"".join(frames))

    def read(self, n):
        buf = self._buf
        while len(buf) - self._pos < n:
            self._next_frame()
        start = self._pos
        self._pos = start + n
        data = bytes(buf[start:self._pos])
        if self._pos == len(buf):
            buf.clear()
            self._pos = 0
        return data

    def _next_frame(self):
        if self._pos:
            del self._buf[:self._pos]
            self._pos = 0
        b0, b1 = self._raw.read(2)
        opcode = b0 & 0x0F
        n = b1 & 0x7F
        if n == 126:
            n = int.from_bytes(self._raw.read(2), "big")
        elif n == 127:
            n = int.from_bytes(self._raw.read(8), "big")
        if b1 & 0x80:
            self.close()
            raise ProtocolError("the server sent a masked frame")
        payload = self._raw.read(n) if n else b""
        if opcode in (0, 2):
            self._buf += payload
        elif opcode == 8:
            self.close()
            raise ConnectionLost("the server closed the connection")
        elif opcode == 9:
            self._raw.send(client_frame(10, payload))
        elif opcode not in (1, 10):
            self.close()
            raise ProtocolError(f"unexpected WebSocket opcode {opcode}")

    def set_timeout(self, seconds):
        self._raw.set_timeout(seconds)

    def timeout(self):
        return self._raw.timeout()

    def close(self):
        if not self._raw.closed:
            try:
                self._raw.send(client_frame(8, b""))
            except ConnectionLost:
                pass
        self._raw.close()

    @property
    def closed(self):
        return self._raw.closed
