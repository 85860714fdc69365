"""``Client.batch()``: requests queued inside a with block go out together under
BatchReplies and their replies come back in one message (one WebSocket message, one
round trip), which suits polling many channels at once.

Inside the block the client's request methods return ``Pending`` objects; when the
block ends without an exception the requests are sent and every ``pending.value``
is filled in (a refusal is raised when its value is read). An exception inside the
block drops the queue unsent. Channel IDs are still looked up at once. Used on the
client's thread.

Also holds ``Pending``, the reply of one queued request.
"""


class Pending:
    """The reply of a request queued in a batch; ``value`` once the batch has ended."""

    __slots__ = ("_value", "_done", "_error")

    def __init__(self):
        self._done = False
        self._value = None
        self._error = None

    @property
    def done(self):
        return self._done

    @property
    def value(self):
        if not self._done:
            raise RuntimeError("the batch has not been sent yet")
        if self._error is not None:
            raise self._error
        return self._value

    def _set(self, value):
        self._value = value
        self._done = True

    def _fail(self, error):
        self._error = error
        self._done = True


class Batch:
    """The with-block object; request methods may be called on it or on the client."""

    def __init__(self, client):
        self._client = client
        self.pending = []

    def __enter__(self):
        if self._client._queue is not None:
            raise RuntimeError("batches do not nest")
        self._client._queue = []
        return self

    def __exit__(self, exc_type, exc, tb):
        queue, self._client._queue = self._client._queue, None
        self.pending = [p for _, _, p in queue]
        if exc_type is None and queue:
            self._client._send_batch(queue)
        return False

    def __getattr__(self, name):
        return getattr(self._client, name)
