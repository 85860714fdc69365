#!/usr/bin/env bash
# Installs the npm packages of clients/ (uPlot and mqtt for the lab console, playwright-core and ws
# for the tests and benchmarks) exactly as package-lock.json lists them, only when
# node_modules does not match the lock file yet. Called by run-server.sh and the tests.
set -euo pipefail
cd "$(dirname "$0")/../clients"
if [ ! -f node_modules/.package-lock.json ] || [ package-lock.json -nt node_modules/.package-lock.json ]; then
  npm ci --no-audit --no-fund --loglevel=error
fi
