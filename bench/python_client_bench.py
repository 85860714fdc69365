#!/usr/bin/env python3
"""Benchmark of the Python client (clients/python) against bare Python baselines run in
the same process and the same moment, so the ratios hold on a busy machine:

  1. ReadValue round trips per second over TCP through Client.read_value, against a
     bare socket loop sending the same request bytes and receiving the 8 reply bytes
     on the same connection (so one server thread answers both), in alternating chunks
     of 100 round trips (target: ratio >= 0.8);
  2. decoding a 131072-sample history reply body into History, against
     list(struct.iter_unpack(">If", body)) over the same bytes (target: <= 2x the
     baseline's time); turning History into a list of HistorySample tuples is shown too.

Starts build/orvexa with Simulator.ldp in a temporary folder (as the client's tests do)
unless --url names a running server. Usage:
  python3 bench/python_client_bench.py [--seconds S] [--url tcp://host:port]
"""

import argparse
import os
import statistics
import struct
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "clients", "python"))
sys.path.insert(0, os.path.join(ROOT, "clients", "python", "tests"))

import orvexa  # noqa: E402
from orvexa.records import History  # noqa: E402

REQUEST = b"\x05\x00\x01"  # ReadValue, channel 1


def bare_chunk(s, n):
    for _ in range(n):
        s.sendall(REQUEST)
        got = s.recv(8)
        while len(got) < 8:
            got += s.recv(8 - len(got))


def client_chunk(client, n):
    read = client.read_value
    for _ in range(n):
        read(1)


def interleaved(bare, client, seconds, chunk=100):
    """Alternates chunks of `chunk` round trips of each side (the order swapped every
    pair) until `seconds` have passed, so both meet the same load. Returns the per-chunk
    times of each side."""
    bare_times, client_times = [], []
    clock = time.perf_counter
    end = clock() + seconds
    while clock() < end:
        for first in (bare_chunk, client_chunk), (client_chunk, bare_chunk):
            for run in first:
                t0 = clock()
                if run is bare_chunk:
                    run(bare, chunk)
                    bare_times.append(clock() - t0)
                else:
                    run(client, chunk)
                    client_times.append(clock() - t0)
    return bare_times, client_times


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]


def best_time(function, rounds):
    times = []
    for _ in range(rounds):
        t0 = time.perf_counter()
        function()
        times.append(time.perf_counter() - t0)
    return min(times), statistics.median(times)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", type=float, default=6.0, help="length of the round-trip measurement")
    parser.add_argument("--url", help="tcp://host:port of a running server")
    args = parser.parse_args()

    server = None
    if args.url:
        _, host, port, _ = orvexa.parse_url(args.url)
    else:
        from orvexa_server import ServerState
        # Nothing logged or fast-sampled: the sampling thread would only add noise.
        server = ServerState(config="OrvexaConfig {\n   Enable = true\n}\n")
        host, port = "127.0.0.1", server.port
    try:
        # Both sides use the same connection, so the same server thread answers them:
        # the bare loop sends on the client's own socket between the client's calls.
        client = orvexa.connect(f"tcp://{host}:{port}")
        bare = client._transport._sock
        interleaved(bare, client, 0.3)  # warm-up
        bare_times, client_times = interleaved(bare, client, args.seconds)
        client.close()
    finally:
        if server:
            server.stop()
    # A shared machine stretches some chunks by whole scheduler slices; the lower
    # quantiles show the cost of the round trip itself, the median what load adds.
    print(f"read_value over TCP: {len(bare_times)} alternating chunks of 100 round trips per side "
          f"in {args.seconds} s")
    for name, q in (("10th percentile", 0.1), ("median", 0.5)):
        b, c = percentile(bare_times, q), percentile(client_times, q)
        print(f"  {name:15s} client {100 / c:9,.0f}/s  bare socket loop {100 / b:9,.0f}/s  "
              f"ratio client/bare = {b / c:.2f}   (target >= 0.8)")

    body = b"".join(struct.pack(">If", 1_700_000_000 + k, (k % 2000 - 1000) / 8.0) for k in range(131072))
    decode_best, decode_median = best_time(lambda: History.decode(body), 30)
    base_best, base_median = best_time(lambda: list(struct.iter_unpack(">If", body)), 30)
    tuples_best, _ = best_time(lambda: list(History.decode(body)), 10)
    assert list(History.decode(body)) == list(struct.iter_unpack(">If", body))
    print(f"decoding 131072 history samples: History.decode {decode_best * 1e3:.2f} ms, "
          f"struct.iter_unpack list {base_best * 1e3:.2f} ms (best of 30; medians "
          f"{decode_median * 1e3:.2f} / {base_median * 1e3:.2f} ms)")
    print(f"  ratio decode/iter_unpack = {decode_best / base_best:.2f}   (target <= 2)")
    print(f"  (as a list of HistorySample tuples: {tuples_best * 1e3:.2f} ms, "
          f"{tuples_best / base_best:.2f}x)")


if __name__ == "__main__":
    main()
