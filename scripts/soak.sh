#!/usr/bin/env bash
# Builds the server, the simulated device and the soak, then runs the soak: the real
# server under 50 clients and injected faults for the given seconds (default 60).
# Further arguments go to the soak (--clients N, --faults F, --gap-ms G, --seed X, --keep).
# Exit status 0 when the soak passed; its last line says why when it did not.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift || true
source scripts/compiler-cache.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo "${CACHE_ARGS[@]}" >/dev/null
cmake --build build -j "$(nproc)" --target orvexa simulator_plugin soak
exec build/bench/soak --seconds "$seconds" "$@"
