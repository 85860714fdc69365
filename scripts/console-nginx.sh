#!/usr/bin/env bash
# Serves the lab console next to a server started by run-server.sh: a private nginx in
# the foreground with its prefix and configuration in ./nginx (the run folder), on
# ORVEXA_WEB_PORT (default 8080, plain HTTP), in front of the server's port taken from the
# server's arguments (/port N, default 8899), and at /mqtt in front of the private broker
# (scripts/live-broker.sh). Where orvexa.cfg publishes to that broker (ORVEXA_MQTT_PORT is
# not 0 and BrokerUrl is set) its /live.json tells the console's observers the lab's
# LabId. Arguments: the server's process id, then the server's
# arguments. Stops nginx when that process ends.
set -euo pipefail
server_pid="$1"
shift
web_port="${ORVEXA_WEB_PORT:-8080}"
server_port=8899
args=("$@")
for i in "${!args[@]}"; do
  case "${args[$i]}" in /port|-port) server_port="${args[$((i + 1))]:-8899}" ;; esac
done
if [ "$server_port" = 0 ]; then
  echo "Lab console: not served (nginx needs a fixed server port, not /port 0)" >&2
  exit 0
fi
repo="$(cd "$(dirname "$0")/.." && pwd)"
prefix="$(pwd)/nginx"
mkdir -p "$prefix/temp"
live='return 404;'
if [ "${ORVEXA_MQTT_PORT:-1883}" != 0 ] && grep -q 'BrokerUrl *= *"[^"]' orvexa.cfg 2>/dev/null; then
  # A name that needs quoting in nginx's configuration is not offered (observers poll).
  lab="$(sed -n -E 's/.*LabId *= *"([A-Za-z0-9._:@-]+)".*/\1/p' orvexa.cfg | head -n 1)"
  [ -z "$lab" ] || live="return 200 '{\"labId\": \"$lab\", \"path\": \"/mqtt\"}';"
fi
sed -e "s|@PREFIX@|$prefix|g" -e "s|@SERVER_PORT@|$server_port|g" -e "s|@BROKER_WS_PORT@|9001|g" \
    -e "s|@LIVE@|$live|" \
    -e "s|@CLIENTS@|$repo/clients|g" -e "s|@DEPLOY@|$repo/deploy/nginx|g" \
    -e "s|@LISTEN@|listen $web_port;|" "$repo/deploy/nginx/local.conf.in" >"$prefix/nginx.conf"
echo "Lab console: http://localhost:$web_port/ (nginx in front of port $server_port; log in run/nginx/)"
# nginx goes when the server goes, or at once if it could not start.
exec bash "$repo/scripts/beside-server.sh" "$server_pid" \
  nginx -p "$prefix" -c "$prefix/nginx.conf" -e "$prefix/error.log" -g 'daemon off;'
