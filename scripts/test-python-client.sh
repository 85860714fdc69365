#!/usr/bin/env bash
# Runs the Python client's tests (clients/python/tests, unittest) against build/orvexa
# and build/Simulator.ldp; the command-line tests use build/venv/bin/orvexa-cli when it
# is there. Called by scripts/run-tests.sh after CTest; non-zero exit on a failure.
set -euo pipefail
cd "$(dirname "$0")/.."
export ORVEXA_BUILD_DIR="$PWD/build"
export PYTHONPATH="$PWD/clients/python"
if [ -x build/venv/bin/orvexa-cli ]; then export ORVEXA_CLI="$PWD/build/venv/bin/orvexa-cli"; fi
python=python3
[ -x build/venv/bin/python ] && python="$PWD/build/venv/bin/python"  # sees python3-paho-mqtt
cd clients/python
"$python" -m unittest discover -s tests -v
