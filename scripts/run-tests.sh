#!/usr/bin/env bash
# Installs what is missing, builds everything, runs a short bounded fuzz run of every
# fuzz target, then every test with CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
bash scripts/fuzz.sh "${FUZZ_SECONDS:-15}"
cd build
ctest --output-on-failure -j "$(nproc)" --timeout 600
bash ../scripts/test-web-clients.sh
bash ../scripts/test-python-client.sh
