#!/usr/bin/env bash
# Installs what is missing, builds, prepares the run folder run/ (the plug-ins copied in)
# and starts the server there. Extra arguments go to the server (for example /port 9000).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
mkdir -p run
cp build/*.ldp run/ 2>/dev/null || true
cd run
exec ../build/orvexa "$@"
