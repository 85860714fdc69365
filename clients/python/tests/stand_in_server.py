"""A stand-in for the Orvexa server, for the replies and endings the real one never
produces: malformed WebSocket replies, a refused opening, a server that dies in the
middle of a request.

``StandIn(serve, websocket)`` listens on a loopback port of its own, accepts one
connection, stops listening (so afterwards the port is as closed as a dead server's)
and runs ``serve(peer)`` on a thread of its own; ``join()`` waits for it and raises
what it raised. Used by the test modules from the unittest thread.
"""

import socket
import threading

from orvexa import wire
from orvexa.websocket_transport import accept_value


class Peer:
    """The accepted connection, from the server's side."""

    def __init__(self, sock, websocket):
        self.sock = sock
        self.websocket = websocket
        self.pongs = []
        if websocket:
            head = b""
            while b"\r\n\r\n" not in head:
                head += self._recv(1)
            key = next(line.split(b":", 1)[1].strip() for line in head.split(b"\r\n")
                       if line.lower().startswith(b"sec-websocket-key:"))
            sock.sendall(b"HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n"
                         b"Connection: Upgrade\r\nSec-WebSocket-Accept: " + accept_value(key) + b"\r\n\r\n")

    def _recv(self, n):
        data = b""
        while len(data) < n:
            piece = self.sock.recv(n - len(data))
            if not piece:
                raise EOFError("the client closed the connection")
            data += piece
        return data

    def _client_frame(self):
        """The payload of the next client frame that is not a pong (pongs are kept in
        ``pongs``)."""
        while True:
            b0, b1 = self._recv(2)
            length = b1 & 0x7F
            if length == 126:
                length = int.from_bytes(self._recv(2), "big")
            mask = self._recv(4)
            payload = bytes(b ^ mask[k % 4] for k, b in enumerate(self._recv(length)))
            if b0 & 0x0F != 10:
                return payload
            self.pongs.append(payload)

    def request(self, n):
        """The next n request bytes (over WebSocket: one frame of exactly n bytes)."""
        if not self.websocket:
            return self._recv(n)
        payload = self._client_frame()
        if len(payload) != n:
            raise AssertionError(f"a request of {len(payload)} bytes, {n} expected")
        return payload

    def hello(self, answer=0):
        """Takes the opening and answers it; (client kind, credential bytes)."""
        if self.websocket:
            opening = self._client_frame()
        else:
            opening = self._recv(5)
            opening += self._recv(wire.U16.unpack(opening[3:])[0])
        self.send(bytes((answer,)))
        return opening[2], opening[5:]

    def send(self, *fragments, ping_between=False):
        """One reply: over WebSocket one binary message in the given fragments (a ping
        between them when asked); over TCP the bytes alone."""
        if not self.websocket:
            self.sock.sendall(b"".join(fragments))
            return
        for k, data in enumerate(fragments):
            if k and ping_between:
                self.sock.sendall(_frame(0x89, b"ping"))
            final = 0x80 if k == len(fragments) - 1 else 0
            self.sock.sendall(_frame(final | (0 if k else 2), data))

    def wait_for_close(self):
        """Keeps the connection open until the client closes it."""
        while True:
            try:
                self._client_frame() if self.websocket else self._recv(1)
            except (EOFError, OSError):
                return


def _frame(head, payload):
    n = len(payload)
    length = bytes((n,)) if n < 126 else bytes((126,)) + n.to_bytes(2, "big")
    return bytes((head,)) + length + payload


class StandIn:
    def __init__(self, serve, websocket=False):
        self._listener = socket.create_server(("127.0.0.1", 0))
        self.port = self._listener.getsockname()[1]
        self.url = f"ws://127.0.0.1:{self.port}/" if websocket else f"tcp://127.0.0.1:{self.port}"
        self._error = None
        self._thread = threading.Thread(target=self._run, args=(serve, websocket), daemon=True)
        self._thread.start()

    def _run(self, serve, websocket):
        try:
            self._listener.settimeout(30)
            sock, _ = self._listener.accept()
            self._listener.close()
            with sock:
                sock.settimeout(30)
                serve(Peer(sock, websocket))
        except BaseException as e:  # handed to join() on the test's thread
            self._error = e
        finally:
            self._listener.close()

    def join(self):
        self._thread.join(60)
        if self._thread.is_alive():
            raise AssertionError("the stand-in server did not finish")
        if self._error is not None:
            raise self._error
