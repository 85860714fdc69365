"""Reads the archive that orvexa-archiver keeps in PostgreSQL: the logged records of
every lab it follows, for any span of time, long after the lab server's own log ring
has overwritten them.

Needs Debian's ``python3-psycopg`` (a venv made with ``--system-site-packages`` sees
it); the rest of the package does not, so it is imported only here and only when used.
The connection string is libpq's (empty: the ``PG*`` environment). Called on the
caller's thread; each call opens and closes its own connection.
"""

import struct
from datetime import datetime, timezone

_EPOCH_2000 = 946684800  # PostgreSQL's epoch in seconds since 1970


class ArchiveUnavailable(Exception):
    """psycopg is missing or the database refused the connection or the query."""


def _psycopg():
    try:
        import psycopg
    except ImportError as e:
        raise ArchiveUnavailable("reading the archive needs python3-psycopg (apt-get install "
                                 "python3-psycopg)") from e
    return psycopg


def _seconds(moment):
    if isinstance(moment, datetime):
        if moment.tzinfo is None:
            moment = moment.replace(tzinfo=timezone.utc)
        return moment.timestamp()
    return float(moment)


def history(lab, channel_id, start, end, conninfo=""):
    """(seconds since 1970, value) of every archived record of the channel with
    start <= time < end, in the log's order (a clock step back keeps its place).
    `start` and `end` are seconds since 1970 or datetimes (naive ones are UTC)."""
    psycopg = _psycopg()
    try:
        with psycopg.connect(conninfo) as db:
            key = db.execute("SELECT id FROM archive_channel WHERE lab = %s AND channel_id = %s",
                             (lab, channel_id)).fetchone()
            if key is None:
                return []
            # Rows of recent days and packed hours of older ones, in log order (a packed
            # hour keeps its records in log order from its first seq), packed on the
            # server into 12 bytes a record (time in microseconds since 2000, raw value;
            # big endian), one chunk per million seqs: unpacking chunks from a binary
            # cursor is several times faster than taking the records in row by row.
            cursor = db.cursor(binary=True)
            cursor.execute(
                "SELECT string_agg(timestamptz_send(q.t) || int4send(q.raw), ''"
                " ORDER BY q.k, q.n) FROM ("
                " SELECT s.t, s.seq AS k, 0::bigint AS n, s.raw FROM sample_raw s"
                " WHERE s.channel = %(c)s AND s.t >= to_timestamp(%(a)s) AND s.t < to_timestamp(%(b)s)"
                " UNION ALL"
                " SELECT h.hour + u.off * interval '1 second', h.first_seq, u.n, u.raw"
                " FROM sample_hour h CROSS JOIN LATERAL unnest(h.t_off, h.raw) WITH ORDINALITY"
                " AS u (off, raw, n) WHERE h.channel = %(c)s"
                " AND h.hour > to_timestamp(%(a)s) - interval '1 hour'"
                " AND h.hour < to_timestamp(%(b)s)"
                ") q WHERE q.t >= to_timestamp(%(a)s) AND q.t < to_timestamp(%(b)s)"
                " GROUP BY q.k / 1000000 ORDER BY q.k / 1000000",
                {"c": key[0], "a": _seconds(start), "b": _seconds(end)})
            return [(t // 1000000 + _EPOCH_2000, raw / 256.0)
                    for (chunk,) in cursor for t, raw in struct.iter_unpack(">qi", chunk)]
    except psycopg.Error as e:
        raise ArchiveUnavailable(f"the archive database: {' '.join(str(e).split())}") from e
    except (struct.error, TypeError) as e:
        raise ArchiveUnavailable("the archive database sent records of the wrong size") from e


def labs(conninfo=""):
    """(lab, channel ID) of every channel the archive holds."""
    psycopg = _psycopg()
    try:
        with psycopg.connect(conninfo) as db:
            return [tuple(r) for r in db.execute(
                "SELECT lab, channel_id FROM archive_channel ORDER BY lab, channel_id")]
    except psycopg.Error as e:
        raise ArchiveUnavailable(f"the archive database: {' '.join(str(e).split())}") from e
