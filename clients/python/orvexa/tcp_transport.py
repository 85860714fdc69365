"""Plain TCP transport: the request protocol straight on a stream socket.

Created by ``orvexa.connect`` for tcp:// addresses; used by one ``Client`` on the
caller's thread. Also the raw stream under the WebSocket transport.

A plain stream has no message boundaries: a reply is as long as its decoder reads.
"""

import socket
import struct

from .errors import ConnectError, ConnectionLost

# Largest single receive: a reply announces its own length, and a bogus count must not
# make the client allocate it before the bytes are there.
MAX_RECEIVE = 1 << 20


class TcpTransport:
    """Sends request bytes and reads exact byte counts of the replies."""

    def __init__(self, host, port, timeout, ssl_context=None, server_hostname=None):
        try:
            sock = socket.create_connection((host, port), timeout=timeout)
        except OSError as e:
            raise ConnectError(f"cannot connect to {host}:{port}: {_reason(e)}") from e
        try:
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            if ssl_context is not None:
                sock = ssl_context.wrap_socket(sock, server_hostname=server_hostname or host)
        except OSError as e:
            sock.close()
            raise ConnectError(f"cannot connect to {host}:{port}: {_reason(e)}") from e
        self._sock = sock
        self._address = (host, port)
        self._tls = ssl_context is not None
        self._ended_by_peer = False
        self._timeout = None
        self.set_timeout(timeout)
        # Bound once: the polling path is one sendall and one recv. After close() they
        # fail with EBADF, which _lost() reports as a closed connection.
        self._sendall = sock.sendall
        self._recv = sock.recv
        # Received bytes not handed out yet: _buf[_pos:]. Reading the socket directly
        # (not through a file object) keeps a small reply to one recv call.
        self._buf = bytearray()
        self._pos = 0

    def send(self, data, pieces=None):
        """Sends the request bytes (`pieces` matter on WebSocket only)."""
        try:
            self._sendall(data)
        except OSError as e:
            raise self._lost("sending failed", e) from e

    def read(self, n):
        """Exactly n bytes; ConnectionLost when the server closes or goes silent."""
        if self._pos == len(self._buf):
            if n == 0:
                return b""
            # Nothing buffered: a small reply usually comes in one piece (a larger
            # receive buffer costs more to allocate than the rare second call).
            try:
                data = self._recv(4096 if n < 4096 else min(n, MAX_RECEIVE))
            except OSError as e:
                raise self._lost("receiving failed", e) from e
            if len(data) == n:
                return data
            if not data:
                raise self._lost()
            self._buf = bytearray(data)
            self._pos = 0
        while len(self._buf) - self._pos < n:
            self._fill()
        start = self._pos
        self._pos = start + n
        return bytes(self._buf[start:self._pos])

    # One reply of exactly n bytes: on a plain stream the same as read(n).
    read_reply = read

    def reply(self, decode):
        """decode(read) on the reply that comes next."""
        return decode(self.read)

    def ended_on_purpose(self):
        """After a ConnectionLost: whether the server closed this connection itself and
        still runs (a request it ends the connection for), rather than having died.
        An orderly end of the stream alone cannot tell; a server still listening on
        its port can."""
        if not self._ended_by_peer:
            return False
        try:
            socket.create_connection(self._address, timeout=min(self._timeout or 5.0, 5.0)).close()
        except OSError:
            return False
        return True

    def read_line(self, limit=8192):
        """One line up to LF (HTTP answers of the WebSocket upgrade)."""
        while True:
            end = self._buf.find(b"\n", self._pos)
            if end >= 0:
                return self.read(end + 1 - self._pos)
            if len(self._buf) - self._pos > limit:
                self.close()
                raise ConnectionLost("an over-long line from the server")
            self._fill()

    def _fill(self):
        if self._pos:
            del self._buf[:self._pos]
            self._pos = 0
        self._buf += self._receive(65536)

    def _receive(self, size):
        try:
            data = self._recv(size)
        except OSError as e:
            raise self._lost("receiving failed", e) from e
        if not data:
            raise self._lost()
        return data

    def _lost(self, what=None, error=None):
        """Closes the connection; the ConnectionLost to raise."""
        was_closed = self._sock is None
        self.close()
        if was_closed:
            return ConnectionLost("the connection is closed")
        if error is None:
            self._ended_by_peer = True
            return ConnectionLost("the server closed the connection")
        return ConnectionLost(f"{what}: {_reason(error)}")

    def set_timeout(self, seconds):
        """Seconds one send or receive may take (None: no limit). On plain TCP the
        kernel keeps the limit (SO_RCVTIMEO, SO_SNDTIMEO) on a blocking socket: a
        Python-level time-out would add a poll() before every send and receive."""
        if self._sock is None:
            return
        self._timeout = seconds
        if self._tls:
            self._sock.settimeout(seconds)
            return
        self._sock.settimeout(None)
        whole = int(seconds or 0)
        limit = struct.pack("@ll", whole, int(((seconds or 0) - whole) * 1e6))
        self._sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVTIMEO, limit)
        self._sock.setsockopt(socket.SOL_SOCKET, socket.SO_SNDTIMEO, limit)

    def timeout(self):
        return self._timeout

    def close(self):
        sock, self._sock = self._sock, None
        if sock is not None:
            sock.close()

    @property
    def closed(self):
        return self._sock is None


def _reason(error):
    # A kernel time-out on a blocking socket shows as EAGAIN (BlockingIOError).
    if isinstance(error, (TimeoutError, BlockingIOError)):
        return "no answer in time"
    return error.strerror or str(error) or type(error).__name__
