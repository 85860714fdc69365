"""orvexa-cli: the Orvexa server from the shell (also ``python3 -m orvexa``).

    orvexa-cli [--url URL] [--observer] [--token TOKEN] COMMAND ...

Exit codes: 0 done, 2 usage, 3 cannot connect or connection lost, 4 refused by the
server (not in control, no such channel, a 0xFFFFFFFF answer), 5 not authorised (the
server turned the token down, or wants one). Failures print one
line on standard error, never a traceback. Tables go to standard output tab-separated;
data goes out as CSV (header row, ISO-8601 UTC times where the server gives calendar
time, float32 values written so that they read back exactly).
"""

import argparse
import os
import ssl
import sys
import time
from datetime import datetime, timezone

from . import (DEFAULT_URL, FIRST_BURST_SLOT, HISTORY_WINDOW, THIN_NONE, ConnectError,
               ConnectionLost, Experiment, NotAuthorised, OrvexaError, Refused, connect, iso_time)
from .csv_output import CsvSink
from .records import iso_time
from .errors import ChannelNotFound, NotInControl
from .wire import float32_text

EXIT_OK, EXIT_USAGE, EXIT_CONNECTION, EXIT_REFUSED, EXIT_NOT_AUTHORISED = 0, 2, 3, 4, 5

THINNING_NAMES = {"none": 24, "minute": 25, "10min": 26, "hour": 27, "3h": 28, "6h": 29}


class UsageError(Exception):
    pass


def _time_arg(text):
    """Calendar seconds from an integer or an ISO-8601 time (UTC unless it says)."""
    try:
        return int(text)
    except ValueError:
        pass
    try:
        moment = datetime.fromisoformat(text.replace("Z", "+00:00"))
    except ValueError as e:
        raise argparse.ArgumentTypeError(f"not a time: {text!r}") from e
    if moment.tzinfo is None:
        moment = moment.replace(tzinfo=timezone.utc)
    return int(moment.timestamp())


def _thinning_arg(text):
    if text in THINNING_NAMES:
        return THINNING_NAMES[text]
    try:
        code = int(text)
    except ValueError:
        code = -1
    if not 0 <= code <= 31:
        raise argparse.ArgumentTypeError(
            f"thinning is 0-23 (first sample in that hour), 24-29 or one of {', '.join(THINNING_NAMES)}")
    return code


def _positive(kind):
    def parse(text):
        value = kind(text)
        if value <= 0:
            raise argparse.ArgumentTypeError(f"must be positive: {text}")
        return value
    return parse


def build_parser():
    p = argparse.ArgumentParser(
        prog="orvexa-cli", description="Talk to an Orvexa measurement server.",
        epilog="Exit codes: 0 done, 2 usage, 3 cannot connect / connection lost, 4 refused by the server, "
               "5 not authorised.")
    p.add_argument("--url", default=os.environ.get("ORVEXA_URL", DEFAULT_URL),
                   help="tcp://host:port, ws://host:port/path or wss://... (default $ORVEXA_URL or %(default)s)")
    p.add_argument("--observer", action="store_true", help="connect as an observer (read only)")
    p.add_argument("--token", default=os.environ.get("ORVEXA_TOKEN", ""),
                   help="the access token the lab gave you (default $ORVEXA_TOKEN, which keeps it "
                        "out of the process list)")
    p.add_argument("--timeout", type=_positive(float), default=10.0, help="seconds per network step")
    p.add_argument("--cafile", metavar="FILE", help="wss://: certificate(s) to trust besides the system's")
    sub = p.add_subparsers(dest="command", required=True, metavar="COMMAND")

    sub.add_parser("list", help="list the channels")
    s = sub.add_parser("read", help="read channel values")
    s.add_argument("ids", nargs="+", metavar="ID")
    s = sub.add_parser("write", help="set a writable channel")
    s.add_argument("id", metavar="ID")
    s.add_argument("value", type=float, metavar="VALUE")
    s = sub.add_parser("watch", help="read channels again and again (Ctrl-C ends)")
    s.add_argument("ids", nargs="*", metavar="ID", help="channels (with --broker: all when none)")
    s.add_argument("--broker", metavar="URL",
                   help="read the live values the server publishes to this MQTT broker "
                        "(mqtt://host[:port], ws://, wss://host/mqtt) instead of the server")
    s.add_argument("--lab", default=os.environ.get("ORVEXA_LAB", "lab"),
                   help="with --broker: the server's LabId (default $ORVEXA_LAB or %(default)s)")
    s.add_argument("--interval", type=_positive(float), default=1.0, help="seconds between reads")
    s.add_argument("--count", type=_positive(int), help="stop after this many rounds")
    sub.add_parser("status", help="where this client stands in the control queue")
    sub.add_parser("controllers", help="addresses of the controlling clients")

    s = sub.add_parser("history", help="logged values of a channel as CSV")
    s.add_argument("id", metavar="ID")
    s.add_argument("--span", type=_positive(int), required=True,
                   help="seconds back from now (modes 0, 1); window length (mode 2)")
    s.add_argument("--mode", type=int, choices=(0, 1, 2), default=0,
                   help="0 every sample, 1 first sample in --hour, 2 window from --start")
    s.add_argument("--hour", type=int, choices=range(24), metavar="H", help="hour of day (mode 1)")
    s.add_argument("--start", type=_time_arg, help="window start, seconds since 1970 or ISO-8601 (mode 2)")
    s.add_argument("--thinning", type=_thinning_arg, default=THIN_NONE,
                   help="mode 2: none, minute, 10min, hour, 3h, 6h, or an hour 0-23")
    s.add_argument("--csv", metavar="FILE", help="write to FILE instead of standard output")

    s = sub.add_parser("fast", help="gap-free stream of fast samples as CSV")
    s.add_argument("id", metavar="ID")
    s.add_argument("--seconds", type=_positive(float), help="stop after N seconds (default: Ctrl-C)")
    s.add_argument("--interval", type=_positive(float), default=0.05, help="seconds between polls")
    s.add_argument("--csv", metavar="FILE")

    s = sub.add_parser("record", help="record an experiment and write its samples as CSV")
    s.add_argument("ids", nargs="+", metavar="ID")
    s.add_argument("--seconds", type=_positive(float), default=10.0)
    s.add_argument("--capacity", type=int, default=30000, help="samples per channel (at most 30000)")
    s.add_argument("--ring", action="store_true", help="keep the newest samples instead of the first")
    s.add_argument("--owner", type=int, default=0, help="owner key of the experiment")
    s.add_argument("--csv", metavar="FILE")

    s = sub.add_parser("experiments", help="list the stored experiments")
    s.add_argument("--owner", type=int, default=0, help="owner key (0: bursts and unkeyed recordings)")
    s = sub.add_parser("experiment", help="read a stored experiment")
    s.add_argument("action", choices=("read",))
    s.add_argument("number", type=int, metavar="N")
    s.add_argument("--burst", action="store_true", default=None, help="read it as a burst (columns burst_0..7)")
    s.add_argument("--csv", metavar="FILE")

    s = sub.add_parser("archive", help="archived values of a channel as CSV (from the database, "
                                       "not the server)")
    s.add_argument("lab", metavar="LAB")
    s.add_argument("id", metavar="ID")
    s.add_argument("--from", dest="start", type=_time_arg, required=True,
                   help="first time, seconds since 1970 or ISO-8601")
    s.add_argument("--to", dest="end", type=_time_arg, required=True, help="end (not included)")
    s.add_argument("--database", default="", metavar="CONNINFO",
                   help="libpq connection string (default: the PG* environment)")
    s.add_argument("--csv", metavar="FILE")

    s = sub.add_parser("burst", help="run a burst recording and write its samples as CSV")
    s.add_argument("name", metavar="NAME")
    s.add_argument("--duration", type=int, required=True, metavar="MS", help="duration (the plug-in's unit)")
    s.add_argument("--csv", metavar="FILE")
    return p


# -- commands ------------------------------------------------------------------------------


def cmd_list(client, args, out):
    for c in client.list_channels():
        flags = ("r" if c.readable else "-") + ("w" if c.writable else "-")
        print(f"{c.number}\t{flags}\t{c.id}\t{c.description}", file=out)


def _numbers(client, ids):
    numbers = [client.channel_number(i) for i in ids]
    for i, n in zip(ids, numbers):
        if n >= FIRST_BURST_SLOT:
            raise ChannelNotFound(i, "readable channel")
    return numbers


def cmd_read(client, args, out):
    numbers = _numbers(client, args.ids)
    with client.batch():
        pending = [client.read_value(n) for n in numbers]
    for cid, p in zip(args.ids, pending):
        r = p.value
        print(f"{cid}\t{float32_text(r.value)}\t{iso_time(r.time)}", file=out)


def cmd_write(client, args, out):
    if client.kind == "observer":
        raise NotInControl("an observer cannot set outputs")
    number = client.channel_number(args.id, writable=True)
    status = client.control_status()
    if not status.in_control:
        wait = "" if status.seconds is None else f" (about {status.seconds} s to wait)"
        raise NotInControl(f"not in control: another client has the turn{wait}")
    stamp = client.write_value_timed(number, args.value)
    print(f"{args.id}\t{float32_text(args.value)}\t{iso_time(stamp)}", file=out)


def cmd_watch(client, args, out):
    if not args.ids:
        raise UsageError("watch needs at least one channel ID (or --broker)")
    numbers = _numbers(client, args.ids)
    rounds = 0
    next_round = time.monotonic()
    while args.count is None or rounds < args.count:
        with client.batch():
            pending = [client.read_value(n) for n in numbers]
        readings = [p.value for p in pending]
        cells = "\t".join(f"{cid}={float32_text(r.value)}" for cid, r in zip(args.ids, readings))
        print(f"{iso_time(readings[0].time)}\t{cells}", file=out, flush=True)
        rounds += 1
        next_round += args.interval
        if args.count is None or rounds < args.count:
            _wait(next_round - time.monotonic(), lambda: client.control_status() and True)


def watch_live(args, out):
    """watch --broker: one line per values frame the server publishes, no server
    connection. Exit 3 when the broker does not answer."""
    from .live import Live  # needs paho-mqtt, which only this command uses

    with Live(args.broker, args.lab, timeout=args.timeout,
              on_error=lambda e: print(f"orvexa-cli: {e}", file=sys.stderr)) as live:
        listing = live.wait_for("channels", args.timeout)
        if listing is None:
            raise ConnectError(f"no channels of lab {args.lab!r} at {args.broker}")
        numbers = {c["id"]: c["number"] for c in listing["channels"]}
        ids = args.ids or [c["id"] for c in listing["channels"] if "r" in c["access"]]
        for i in ids:
            if i not in numbers:
                raise ChannelNotFound(i, "channel")
        rounds = 0
        for frame in live.values():
            cells = "\t".join(f"{i}={float32_text(frame.values[numbers[i]])}"
                              for i in ids if numbers[i] in frame.values)
            print(f"{iso_time(int(frame.time))}\t{cells}", file=out, flush=True)
            rounds += 1
            if args.count is not None and rounds >= args.count:
                break


# The server drops a connection that sends nothing for ConectionExpirationDelay
# seconds (60 by default); long waits are cut into steps well below that.
KEEP_ALIVE_STEP = 10.0


def _wait(seconds, still_going):
    """Waits up to `seconds`, calling still_going() every KEEP_ALIVE_STEP seconds (a
    request); stops early when it answers False."""
    end = time.monotonic() + seconds
    while True:
        left = end - time.monotonic()
        if left <= 0:
            return
        time.sleep(min(left, KEEP_ALIVE_STEP))
        if time.monotonic() < end and not still_going():
            return


def cmd_status(client, args, out):
    s = client.control_status()
    if s.state < 0:
        text = "not registered"
    elif client.kind == "observer":
        text = "observer (cannot set outputs)"
    elif s.in_control:
        text = "in control, " + ("no time limit" if s.seconds is None else f"{s.seconds} s left")
    else:
        text = "waiting" + ("" if s.seconds is None else f", about {s.seconds} s")
    print(text, file=out)


def cmd_controllers(client, args, out):
    for address in client.list_controllers():
        print(address, file=out)


def cmd_history(client, args, out):
    mode, limit = args.mode, 0
    if mode == 0:
        span_or_start = args.span
    elif mode == 1:
        if args.hour is None:
            raise UsageError("--mode 1 needs --hour H")
        span_or_start, limit = args.span, args.hour
    else:
        if args.start is None:
            raise UsageError("--mode 2 needs --start TIME")
        if args.span > 0xFFFFFF:
            raise UsageError("--span of mode 2 is at most 16777215 s")
        span_or_start, limit = args.start, (args.thinning << 24) | args.span
    number = _numbers(client, [args.id])[0]
    history = client.read_history(number, span_or_start, mode if mode != 2 else HISTORY_WINDOW, limit)
    _write_rows(args.csv, ["time", "value"], history.rows(), out)


def cmd_fast(client, args, out):
    number = _numbers(client, [args.id])[0]

    def gap(first, count):
        lost = "an unknown number of samples (numbering restarted)" if count is None else f"{count} samples"
        print(f"orvexa-cli: gap: {lost} missing from sequence {first}", file=sys.stderr)

    stream = client.fast_stream(number, seconds=args.seconds, interval=args.interval, on_gap=gap)
    sink = CsvSink(args.csv or out, ["sequence", "tick_ms", "value"])
    try:
        chunk = []
        last_flush = time.monotonic()
        for s in stream:
            chunk.append(s)
            if len(chunk) >= 1000 or time.monotonic() - last_flush > 0.2:
                sink.write(chunk)
                chunk, last_flush = [], time.monotonic()
        sink.write(chunk)
    except KeyboardInterrupt:
        sink.write(chunk)
    finally:
        sink.close()
    if stream.received == 0:
        raise Refused(f"no fast samples from {args.id} (is its fast logging on?)")
    if args.csv:
        print(f"{sink.rows} samples written to {args.csv}", file=sys.stderr)


def _experiment_rows(run, data, names):
    for key, slot in data.items():
        name = names.get(key, key)
        for s in slot:
            yield (name, s.sequence, run.time_text(s.time), s.value)


def _channel_names(client):
    return {c.number: c.id for c in client.list_channels()}


def cmd_record(client, args, out):
    _numbers(client, args.ids)
    run = client.experiment(args.ids, capacity=args.capacity, ring=args.ring, owner_key=args.owner)
    run.start()
    print(f"recording experiment {run.id}", file=sys.stderr)
    try:
        # Asking between pauses keeps the connection from expiring as idle and notices
        # a plug-in that ends the experiment by itself.
        _wait(args.seconds, lambda: client.is_recording(run.id))
    except KeyboardInterrupt:
        pass
    try:
        run.stop()
    except Refused:
        if client.is_recording(run.id):
            raise
    _write_rows(args.csv, ["channel", "sequence", "relative_time", "value"],
                _experiment_rows(run, run.read(), {}), out)


def cmd_experiments(client, args, out):
    for e in client.list_experiments(args.owner):
        state = "recording" if e.recording else "stopped"
        print(f"{e.id}\t{state}\t{iso_time(e.start_time)}\t{iso_time(e.stop_time)}\t{e.client_address}",
              file=out)


def cmd_experiment(client, args, out):
    run = Experiment.existing(client, args.number, burst=args.burst)
    names = {} if run.is_burst else _channel_names(client)
    _write_rows(args.csv, ["channel", "sequence", "relative_time", "value"],
                _experiment_rows(run, run.read(), names), out)


def cmd_burst(client, args, out):
    run = Experiment.burst(client, args.name, args.duration)
    print(f"burst stored as experiment {run.id}", file=sys.stderr)
    columns = list(run.read().values())
    rows = ((s.sequence, s.time, *(c.values[i] for c in columns))
            for i, s in enumerate(columns[0]))
    _write_rows(args.csv, ["sample", "time", *(f"burst_{k}" for k in range(8))], rows, out)


def _write_rows(target, header, rows, out):
    sink = CsvSink(target or out, header)
    try:
        sink.write(rows)
    finally:
        sink.close()
    if target:
        print(f"{sink.rows} rows written to {target}", file=sys.stderr)


def _archive(args, out):
    """The archive command reads the database alone; no server is involved."""
    from . import archive
    try:
        rows = archive.history(args.lab, args.id, args.start, args.end, args.database)
        _write_rows(args.csv, ["time", "value"], ((iso_time(t), v) for t, v in rows), out)
        return EXIT_OK
    except archive.ArchiveUnavailable as e:
        print(f"orvexa-cli: {e}", file=sys.stderr)
        return EXIT_CONNECTION
    except BrokenPipeError:
        return EXIT_OK


COMMANDS = {
    "list": cmd_list, "read": cmd_read, "write": cmd_write, "watch": cmd_watch,
    "status": cmd_status, "controllers": cmd_controllers, "history": cmd_history,
    "fast": cmd_fast, "record": cmd_record, "experiments": cmd_experiments,
    "experiment": cmd_experiment, "burst": cmd_burst,
}


def main(argv=None):
    parser = build_parser()
    args = parser.parse_args(argv)  # exits with 2 on a usage error
    out = sys.stdout
    csv_path = getattr(args, "csv", None)
    if csv_path and csv_path != "-":
        folder = os.path.dirname(os.path.abspath(csv_path))
        if not os.path.isdir(folder) or not os.access(folder, os.W_OK):
            parser.error(f"cannot write {csv_path}")
    context = None
    if args.cafile:
        try:
            context = ssl.create_default_context()
            context.load_verify_locations(cafile=args.cafile)
        except (OSError, ssl.SSLError) as e:
            parser.error(f"cannot use {args.cafile}: {getattr(e, 'strerror', None) or e}")
    if args.command == "archive":
        return _archive(args, out)
    try:
        if args.command == "watch" and args.broker:
            watch_live(args, out)
            return EXIT_OK
        with connect(args.url, kind="observer" if args.observer else "controller",
                     token=args.token.strip(), timeout=args.timeout, ssl_context=context) as client:
            COMMANDS[args.command](client, args, out)
        return EXIT_OK
    except UsageError as e:
        parser.print_usage(sys.stderr)
        print(f"orvexa-cli: error: {e}", file=sys.stderr)
        return EXIT_USAGE
    except ValueError as e:  # an argument the protocol cannot carry
        print(f"orvexa-cli: error: {e}", file=sys.stderr)
        return EXIT_USAGE
    except NotAuthorised as e:
        print(f"orvexa-cli: {e}", file=sys.stderr)
        return EXIT_NOT_AUTHORISED
    except ImportError as e:
        print(f"orvexa-cli: --broker needs python3-paho-mqtt: {e}", file=sys.stderr)
        return 1
    except ConnectError as e:
        print(f"orvexa-cli: cannot connect: {e}", file=sys.stderr)
        return EXIT_CONNECTION
    except ConnectionLost as e:
        print(f"orvexa-cli: connection to {args.url} lost: {e}", file=sys.stderr)
        return EXIT_CONNECTION
    except Refused as e:
        print(f"orvexa-cli: refused: {e}", file=sys.stderr)
        return EXIT_REFUSED
    except OrvexaError as e:
        print(f"orvexa-cli: {e}", file=sys.stderr)
        return EXIT_CONNECTION
    except KeyboardInterrupt:
        return EXIT_OK if args.command in ("watch", "fast") else 130
    except BrokenPipeError:
        # The reader of standard output went away (e.g. `| head`): nothing to report.
        try:
            sys.stdout = open(os.devnull, "w")
        except OSError:
            pass
        return EXIT_OK
    except OSError as e:
        print(f"orvexa-cli: {e.strerror or e}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
