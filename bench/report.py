#!/usr/bin/env python3
"""Runs every benchmark of build/bench briefly and prints one Markdown table: figure,
measured ratio (or value), the baseline it is measured against in the same run, and the
target. Each benchmark measures its own baseline, so the ratios are comparable across
machines while the absolute figures are not.

    bash scripts/build.sh && python3 bench/report.py [--build build] [--quick]

A benchmark that fails or prints nothing that can be read gives a row saying so; the
exit status is then 1. Standard library only."""

import argparse
import os
import platform
import re
import subprocess
import sys

NUMBER = r"([0-9]+(?:\.[0-9]+)?)"


def run(build, name, args, timeout):
    path = os.path.join(build, "bench", name)
    try:
        done = subprocess.run([path, *args], capture_output=True, text=True, timeout=timeout)
    except (OSError, subprocess.TimeoutExpired) as error:
        return None, f"{name}: {error}"
    if done.returncode != 0:
        return None, f"{name}: exit {done.returncode}: {done.stderr.strip()[-300:]}"
    return done.stdout, None


def find(pattern, text):
    match = re.search(pattern, text, re.MULTILINE)
    return match.groups() if match else None


def serving_rows(text):
    rows = []
    for line in text.splitlines():
        m = re.match(r"(TCP|WebSocket), (\d+) clients?\s+echo\s+" + NUMBER + r"/s\s+server\s+"
                     + NUMBER + r"/s\s+ratio " + NUMBER + r"x \(target >= " + NUMBER + r"x\)",
                     line)
        if m:
            transport, clients, echo, server, ratio, target = m.groups()
            rows.append((f"ReadValue round trips, {transport}, {clients} client(s)",
                         f"{float(ratio):.2f}x ({float(server):.0f}/s)",
                         f"thread-per-connection echo server ({float(echo):.0f}/s)",
                         f">= {target}x"))
    rss = find(r"resident memory with 50 idle clients: " + NUMBER + " MB", text)
    if rss:
        rows.append(("Server RSS with 50 idle clients", f"{rss[0]} MB", "-", "< 30 MB"))
    return rows


def history_rows(text):
    rows = []
    m = find(r"ratio history / plain socket: " + NUMBER, text)
    if m:
        rows.append(("131072-record ReadHistory from a full log", f"{m[0]}x",
                     "the same 1 MB over a plain socket", "<= 2x"))
    m = find(r"ratio 15M / 1M: " + NUMBER, text)
    if m:
        rows.append(("SamplesSince last hour, 15M-record log", f"{m[0]}x",
                     "the same query on a 1M-record log", "about 1x"))
    m = find(r"mode 1, hour 14, whole log\s+\d+ records: scan\s+" + NUMBER + r" ms, search\s+"
             + NUMBER + " ms", text)
    if m:
        rows.append(("History mode-1 query over 15M records (work)", f"{m[1]} ms",
                     f"straightforward scan ({m[0]} ms)", "<= 1 ms"))
    return rows


def sampling_rows(text):
    rows = []
    for block in re.split(r"\n(?=[AB]: )", text):
        name = block.splitlines()[0] if block else ""
        if not re.match(r"[AB]: ", name):
            continue
        rate = find(r"achieved rate / requested\s+" + NUMBER, block)
        late = find(r"lateness p50 / p99\s+" + NUMBER + r" us / " + NUMBER + " us", block)
        cpu = find(r"CPU ratio sampler/spinner\s+" + NUMBER, block)
        floor = find(r"bare sleep loop at " + NUMBER + r" wake-ups/s uses " + NUMBER, block)
        if rate:
            rows.append((f"Sampler rate, {name[3:]}", rate[0], "requested rate", ">= 0.995"))
        if late:
            rows.append((f"Sampler lateness p50/p99, {name[3:]}", f"{late[0]} / {late[1]} us",
                         "due time", "p99 <= 200 us"))
        if cpu:
            baseline = "busy-spinning pacer"
            if floor:
                baseline += f" (bare sleep loop alone: {floor[1]} of a core)"
            rows.append((f"Sampler CPU, {name[3:]}", cpu[0], baseline, "<= 0.1"))
    return rows


def logging_rows(text):
    rows = []
    m = find(r"= " + NUMBER + r" of the 1 s budget", text)
    if m:
        rows.append(("Periodic pass, 100 log files (append + flush)", m[0], "the 1 s budget",
                     "< 1"))
    m = find(r"SampleLog / baseline time ratio: " + NUMBER, text)
    if m:
        rows.append(("SampleLog ring appends", f"{m[0]}x", "std::deque push/pop", "about 1x"))
    return rows


def config_rows(text):
    rows = []
    m = find(r"parse time ratio 16 MB / 4 MB: " + NUMBER + r", write: " + NUMBER, text)
    if m:
        rows.append(("Configuration parse, 16 MB vs 4 MB", m[0], "the 4 MB parse",
                     "about 4 (linear)"))
        rows.append(("Configuration write, 16 MB vs 4 MB", m[1], "the 4 MB write",
                     "about 4 (linear)"))
    return rows


def pinvane_rows(text):
    rows = []
    m = find(r"ratio median latency / cycle: " + NUMBER, text)
    if m:
        rows.append(("Pinvane input latency, median", m[0], "the reader's cycle",
                     "about 0.5, < 1"))
    m = find(r"ratio 99th percentile / cycle: " + NUMBER, text)
    if m:
        rows.append(("Pinvane input latency, 99th percentile", m[0], "the reader's cycle", "-"))
    return rows


def interference_rows(text):
    # The benchmark prints its own Markdown table of targets; its verdict goes with the
    # measured value.
    rows = []
    table = text.split("== Targets ==", 1)
    for line in table[1].splitlines() if len(table) == 2 else []:
        cells = [cell.strip() for cell in line.strip().strip("|").split("|")]
        if len(cells) != 5 or cells[0] == "Figure" or set(cells[0]) <= set("-"):
            continue
        figure, measured, baseline, target, result = cells
        if result != "-":
            measured += f", {result}"
        rows.append((figure, measured, baseline, target))
    return rows


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.path.join(os.path.dirname(__file__), "..", "build"))
    parser.add_argument("--quick", action="store_true", help="shortest runs (less stable)")
    options = parser.parse_args()
    quick = options.quick
    benchmarks = [
        ("serving_bench", ["1" if quick else "3"], serving_rows),
        ("history_bench", ["3" if quick else "10"], history_rows),
        ("fast_sampling_bench", ["2" if quick else "5"], sampling_rows),
        ("logging_bench", [], logging_rows),
        ("config_bench", [], config_rows),
        ("pinvane_latency_bench", [], pinvane_rows),
        ("interference", ["--alone", "5", "--loaded", "5"] if quick else [], interference_rows),
    ]
    load = os.getloadavg()[0]
    table = []
    failed = False
    for name, args, parse in benchmarks:
        print(f"running {name} {' '.join(args)}", file=sys.stderr, flush=True)
        text, error = run(options.build, name, args, timeout=600)
        rows = parse(text) if text is not None else []
        if not rows:
            failed = True
            table.append((name, "not measured", error or "output not understood", "-"))
        table.extend(rows)
    print(f"Machine: {platform.machine()}, {os.cpu_count()} cores, "
          f"{platform.system()} {platform.release()}, load {load:.1f} at the start of the report\n")
    print("| Figure | Measured | Baseline (same run) | Target |")
    print("|---|---|---|---|")
    for row in table:
        print("| " + " | ".join(cell.replace("|", "/") for cell in row) + " |")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
