#!/usr/bin/env bash
# Installs what is missing, builds, prepares the run folder run/ (the plug-ins copied in)
# and starts the server there. Extra arguments go to the server (for example /port 9000).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
mkdir -p run
cp build/*.ldp run/ 2>/dev/null || true
# A new run folder starts with a demo configuration that logs and fast-samples the
# simulated channels; an existing orvexa.cfg is never touched.
[ -e run/orvexa.cfg ] || cp scripts/demo-orvexa.cfg run/orvexa.cfg
# The lab console is served by a private nginx next to the server (ORVEXA_WEB_PORT=0: not).
bash scripts/install-js-deps.sh || ORVEXA_WEB_PORT=0
cd run
[ "${ORVEXA_WEB_PORT:-8080}" = 0 ] || bash ../scripts/console-nginx.sh "$$" "$@" &
# ORVEXA_ARCHIVE=1: a private PostgreSQL cluster in run/archive-db and the archiver.
[ "${ORVEXA_ARCHIVE:-0}" = 1 ] && bash ../scripts/archive-cluster.sh "$$" "$@" &
exec ../build/orvexa "$@"
