"""Client of the Orvexa measurement server, standard library only.

    import orvexa
    with orvexa.connect("tcp://lab-pc:8899") as client:
        print(client.read_value("Simulator_Sine"))

``connect`` opens a plain TCP connection (tcp://host:port) or a WebSocket
(ws://host:port/path, or wss:// through a TLS proxy such as nginx), runs the opening
exchange and returns a ``Client`` with one method per request of the protocol.
"""

import ssl as _ssl
from urllib.parse import urlsplit

from . import wire
from .batch import Pending
from .client import Client, window_limit
from .csv_output import write_csv
from .errors import (ChannelNotFound, ConnectError, ConnectionLost, NotAuthorised, NotInControl,
                     OrvexaError, ProtocolError, Refused)
from .experiment import Experiment
from .protocol import (FIRST_BURST_SLOT, HISTORY_ALL, HISTORY_FIRST_IN_HOUR, HISTORY_WINDOW,
                       MAX_HISTORY, THIN_10_MINUTES, THIN_3_HOURS, THIN_6_HOURS, THIN_HOUR,
                       THIN_MINUTE, THIN_NONE)
from .records import (RECORDING_TICKS_PER_SECOND, Channel, ControlStatus, ExperimentInfo,
                      ExperimentSample, ExperimentSlot, FastSample, FastSamples, History,
                      HistorySample, Reading, iso_time)
from .tcp_transport import TcpTransport
from .websocket_transport import WebSocketTransport

__version__ = "0.1.0"
DEFAULT_PORT = 8899
DEFAULT_URL = f"tcp://127.0.0.1:{DEFAULT_PORT}"


def parse_url(url):
    """(scheme, host, port, path) of tcp://, ws:// or wss:// addresses; a bare
    host:port means tcp."""
    if "://" not in url:
        url = "tcp://" + url
    parts = urlsplit(url)
    scheme = parts.scheme.lower()
    if scheme not in ("tcp", "ws", "wss"):
        raise ValueError(f"unknown address scheme {parts.scheme!r} (tcp://, ws:// or wss://)")
    try:
        port = parts.port
    except ValueError as e:
        raise ValueError(f"bad port in {url!r}") from e
    if not parts.hostname:
        raise ValueError(f"no host in {url!r}")
    if port is None:
        port = 443 if scheme == "wss" else DEFAULT_PORT
    path = parts.path or "/"
    if parts.query:
        path += "?" + parts.query
    return scheme, parts.hostname, port, path


def connect(url=DEFAULT_URL, kind="controller", credential=b"", timeout=10.0, ssl_context=None,
            token=None):
    """Opens a connection and runs the opening exchange.

    kind: "controller" (may set outputs when in control) or "observer" (reads only).
    credential, or token (the same, by its usual name): the credential string of the
    opening, str or bytes, at most 253 bytes in UTF-8; a server with authentication
    on admits only a valid token of the lab's booking service.
    timeout: seconds any single send or receive may take.
    ssl_context: for wss://; the default verifies the proxy's certificate.
    Raises ConnectError when the server cannot be reached or refuses the opening,
    NotAuthorised (a ConnectError) when it refuses the credential, ValueError for an
    unusable argument (before anything is sent)."""
    if kind not in ("controller", "observer"):
        raise ValueError('kind must be "controller" or "observer"')
    credential = _credential(credential, token)
    scheme, host, port, path = parse_url(url)
    if scheme == "tcp":
        transport = TcpTransport(host, port, timeout)
    else:
        context = None
        if scheme == "wss":
            context = ssl_context or _ssl.create_default_context()
        transport = WebSocketTransport(host, port, path, timeout, context)
    client = Client(transport, url, kind)
    try:
        client.hello(credential)
    except ConnectionLost as e:
        client.close()
        raise ConnectError(f"no opening with the server at {url} (client limit reached, "
                           f"clients disabled, or not an Orvexa server?): {e}") from e
    except Refused as e:
        raise ConnectError(str(e)) from e
    return client


def _credential(credential, token):
    if token is not None and credential:
        raise ValueError("give a credential or a token, not both")
    if token is not None:
        credential = token
    data = credential.encode() if isinstance(credential, str) else bytes(credential)
    if len(data) > wire.MAX_STRING:
        raise ValueError(f"the token is {len(data)} bytes long (UTF-8); the server takes at most "
                         f"{wire.MAX_STRING}")
    return data


__all__ = [
    "connect", "parse_url", "Client", "Pending", "Experiment", "write_csv", "window_limit",
    "iso_time", "OrvexaError", "ConnectError", "ConnectionLost", "ProtocolError", "Refused",
    "NotAuthorised", "ChannelNotFound", "NotInControl", "Channel", "ControlStatus", "ExperimentInfo",
    "ExperimentSample", "ExperimentSlot", "FastSample", "FastSamples", "History",
    "HistorySample", "Reading", "HISTORY_ALL", "HISTORY_FIRST_IN_HOUR", "HISTORY_WINDOW",
    "THIN_NONE", "THIN_MINUTE", "THIN_10_MINUTES", "THIN_HOUR", "THIN_3_HOURS",
    "THIN_6_HOURS", "MAX_HISTORY", "FIRST_BURST_SLOT", "RECORDING_TICKS_PER_SECOND",
    "DEFAULT_URL",
]
