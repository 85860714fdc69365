#!/usr/bin/env bash
# Makes build/venv with the Python client package of clients/python installed, so that
# build/venv/bin/orvexa-cli works. Called by scripts/build.sh. Needs no package index:
# the package uses the standard library only and builds its own wheel.
set -euo pipefail
cd "$(dirname "$0")/.."
# Debian's interpreter, whose packages (python3-paho-mqtt for orvexa.live) the venv sees.
python=/usr/bin/python3
[ -x "$python" ] || python=python3
if ! build/venv/bin/python -c 'import paho.mqtt' 2>/dev/null; then
  rm -rf build/venv
  "$python" -m venv --system-site-packages build/venv
fi
build/venv/bin/python -m pip install --quiet --disable-pip-version-check --no-build-isolation \
  --no-index --no-deps --force-reinstall clients/python
