#!/usr/bin/env bash
# The fan-out benchmark with a descriptor limit for thousands of WebSocket viewers.
# Arguments: [--node] [--direct] viewers (2000), seconds (60), generator processes (2); or --outage [seconds]
# (the broker stopped that long while the server samples at 3999 Hz).
set -euo pipefail
cd "$(dirname "$0")/../.."
ulimit -n 65536 2>/dev/null || ulimit -n "$(ulimit -Hn)"
bash scripts/install-js-deps.sh
exec node bench/fanout/fanout.mjs "$@"
