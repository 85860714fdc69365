#!/usr/bin/env bash
# Makes build/venv with the Python client package of clients/python installed, so that
# build/venv/bin/orvexa-cli works. Called by scripts/build.sh. Needs no package index:
# the package uses the standard library only and builds its own wheel.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! build/venv/bin/python -c '' 2>/dev/null; then
  rm -rf build/venv
  python3 -m venv build/venv
fi
build/venv/bin/python -m pip install --quiet --disable-pip-version-check --no-build-isolation \
  --no-index --no-deps --force-reinstall clients/python
