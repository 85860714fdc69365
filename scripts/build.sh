#!/usr/bin/env bash
# Configures and builds the server, the plug-ins, the tests and the benchmarks in build/.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
bash scripts/python-client-venv.sh
