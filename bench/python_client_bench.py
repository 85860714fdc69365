#!/usr/bin/env python3
"""Benchmark of the Python client (clients/python) against bare Python baselines run in
the same process and the same moment, so the ratios hold on a busy machine:

  1. ReadValue round trips per second over TCP through Client.read_value, against a
     bare socket loop sending the same request bytes and receiving the 8 reply bytes
     (target: ratio >= 0.8);
  2. decoding a 131072-sample history reply body into History, against
     list(struct.iter_unpack(">If", body)) over the same bytes (target: <= 2x the
     baseline's time); turning History into a list of HistorySample tuples is shown too.

Starts build/orvexa with Simulator.ldp in a temporary folder (as the client's tests do)
unless --url names a running server. Usage:
  python3 bench/python_client_bench.py [--seconds S] [--url tcp://host:port]
"""

import argparse
import os
import socket
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


def bare_connection(host, port):
    s = socket.create_connection((host, port))
    s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    s.sendall(struct.pack(">HB", 100, 1) + b"\x00\x00")
    if s.recv(1) != b"\x00":
        raise SystemExit("the server refused the opening")
    return s


def bare_rounds(s, seconds):
    n = 0
    end = time.perf_counter() + seconds
    start = time.perf_counter()
    while True:
        for _ in range(200):
            s.sendall(REQUEST)
            got = s.recv(8)
            while len(got) < 8:
                got += s.recv(8 - len(got))
        n += 200
        now = time.perf_counter()
        if now >= end:
            return n / (now - start)


def client_rounds(client, seconds):
    n = 0
    read = client.read_value
    end = time.perf_counter() + seconds
    start = time.perf_counter()
    while True:
        for _ in range(200):
            read(1)
        n += 200
        now = time.perf_counter()
        if now >= end:
            return n / (now - start)


def best_time(function, rounds):
    times = []
    for _ in range(rounds):
        t0 = time.perf_counter()
        function()
        times.append(time.perf_counter() - t0)
    return min(times), statistics.median(times)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", type=float, default=0.5, help="length of one timed round")
    parser.add_argument("--rounds", type=int, default=12, help="pairs of rounds (client, bare)")
    parser.add_argument("--url", help="tcp://host:port of a running server")
    args = parser.parse_args()

    server = None
    if args.url:
        _, host, port, _ = orvexa.parse_url(args.url)
    else:
        from orvexa_server import OrvexaServer
        server = OrvexaServer()
        host, port = "127.0.0.1", server.port
    try:
        bare = bare_connection(host, port)
        client = orvexa.connect(f"tcp://{host}:{port}")
        bare_rounds(bare, 0.2)
        client_rounds(client, 0.2)  # warm-up of both
        # Pairs of rounds, the order swapped every pair; the ratio of each pair is taken,
        # so a change of the machine's load between pairs does not count.
        bare_rates, client_rates, ratios = [], [], []
        for k in range(args.rounds):
            if k % 2:
                c = client_rounds(client, args.seconds)
                b = bare_rounds(bare, args.seconds)
            else:
                b = bare_rounds(bare, args.seconds)
                c = client_rounds(client, args.seconds)
            bare_rates.append(b)
            client_rates.append(c)
            ratios.append(c / b)
        bare.close()
        client.close()
    finally:
        if server:
            server.stop()
    print(f"read_value over TCP: client {statistics.median(client_rates):,.0f}/s, bare socket loop "
          f"{statistics.median(bare_rates):,.0f}/s (medians of {args.rounds} pairs of {args.seconds} s rounds)")
    print(f"  ratio client/bare = {statistics.median(ratios):.2f}   (median of the pairs' ratios; "
          f"range {min(ratios):.2f} .. {max(ratios):.2f}; target >= 0.8)")

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
