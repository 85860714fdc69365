"""Exceptions of the Orvexa client.

Every failure the client reports is an ``OrvexaError``. The command line tool turns
the kinds below into its exit codes: ``ConnectError`` and ``ConnectionLost`` give 3
(the server cannot be reached or went away), ``Refused`` gives 4 (the server answered,
but would not or could not do what was asked), ``NotAuthorised`` gives 5 (the server
turned the credential of the opening down).
"""


class OrvexaError(Exception):
    """Base class of the client's errors."""


class ConnectError(OrvexaError):
    """The connection could not be opened: no server, upgrade or opening refused."""


class NotAuthorised(ConnectError):
    """The server refused the opening: no credential, or one it did not accept for
    this kind of client. The connection is closed."""


class ConnectionLost(OrvexaError):
    """The connection broke or timed out; the client is closed afterwards."""


class ProtocolError(ConnectionLost):
    """The server sent something this client cannot understand; the client is closed."""


class Refused(OrvexaError):
    """The server answered with a refusal (0xFFFFFFFF, no such channel, not in control)."""


class ChannelNotFound(Refused):
    """No channel of the asked kind has this ID."""

    def __init__(self, channel_id, kind="channel"):
        super().__init__(f"no {kind} with ID {channel_id!r}")
        self.channel_id = channel_id


class NotInControl(Refused):
    """A write would be ignored: the client is an observer or waits for its turn."""
