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
# simulated channels; an existing orvexa.cfg is kept (only the broker keys below may be
# added to it).
[ -e run/orvexa.cfg ] || cp scripts/demo-orvexa.cfg run/orvexa.cfg
# Live data for viewers goes through a private Mosquitto broker (ORVEXA_MQTT_PORT=0: no
# broker). A configuration whose BrokerUrl is missing or empty gets the keys once, for the
# lab "lab".
mqtt_port="${ORVEXA_MQTT_PORT:-1883}"
if [ "$mqtt_port" != 0 ]; then
  (cd run && bash ../scripts/live-broker.sh prepare)
  if ! grep -q 'BrokerUrl *= *"[^"]' run/orvexa.cfg; then
    # The server saves the keys it has, empty ones too: those give way to the new ones.
    sed -i -E '/^ *(BrokerUrl|BrokerUser|BrokerPasswordFile|LabId) *= *""/d' run/orvexa.cfg
    sed -i "0,/^OrvexaConfig {/s||OrvexaConfig {\n   BrokerUrl = \"mqtt://127.0.0.1:$mqtt_port\"  LabId = \"${ORVEXA_LAB_ID:-lab}\"\n   BrokerUser = \"${ORVEXA_LAB_ID:-lab}\"  BrokerPasswordFile = \"mosquitto/${ORVEXA_LAB_ID:-lab}.password\"|" run/orvexa.cfg
  fi
fi
# The lab console is served by a private nginx next to the server (ORVEXA_WEB_PORT=0: not).
bash scripts/install-js-deps.sh || ORVEXA_WEB_PORT=0
cd run
[ "${ORVEXA_WEB_PORT:-8080}" = 0 ] || bash ../scripts/console-nginx.sh "$$" "$@" &
[ "$mqtt_port" = 0 ] || bash ../scripts/live-broker.sh run "$$" &
# ORVEXA_ARCHIVE=1: a private PostgreSQL cluster in run/archive-db and the archiver.
[ "${ORVEXA_ARCHIVE:-0}" = 1 ] && bash ../scripts/archive-cluster.sh "$$" "$@" &
exec ../build/orvexa "$@"
