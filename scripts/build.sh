#!/usr/bin/env bash
# Configures and builds the server, the plug-ins, the tests and the benchmarks in build/.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/compiler-cache.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo "${CACHE_ARGS[@]}" >/dev/null
cmake --build build -j "$(nproc)"
bash scripts/python-client-venv.sh
