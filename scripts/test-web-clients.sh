#!/usr/bin/env bash
# Runs the JavaScript tests: the client library against scripted byte layouts (node:test)
# and the lab console end to end in headless Chromium behind nginx over TLS, with the real
# build/orvexa and build/Simulator.ldp. Exits non-zero when a test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-js-deps.sh
cd clients
node --test js/test/codec.test.mjs js/test/live.test.mjs test/console.e2e.test.mjs
