#!/usr/bin/env bash
# Runs the private Mosquitto broker of the run folder in the foreground, next to a
# server started by run-server.sh: configuration, ACL and password file in ./mosquitto
# (the run folder), a TCP listener on 127.0.0.1:ORVEXA_MQTT_PORT (default 1883) and a
# WebSocket listener on 127.0.0.1:9001 that nginx proxies at /mqtt. The publisher's
# account is the LabId (ORVEXA_LAB_ID, default "lab") with a random password, kept
# in mosquitto/<lab>.password for the server. As root the broker runs as `nobody` (it
# would otherwise switch to its own user, which cannot use this folder).
# `live-broker.sh prepare` writes the files only (the server reads the password at its
# start); `live-broker.sh run PID` also runs the broker until process PID ends.
set -euo pipefail
mode="$1"
server_pid="${2:-}"
port="${ORVEXA_MQTT_PORT:-1883}"
ws_port=9001
lab="${ORVEXA_LAB_ID:-lab}"
repo="$(cd "$(dirname "$0")/.." && pwd)"
dir="$(pwd)/mosquitto"
mkdir -p "$dir"
if [ ! -s "$dir/$lab.password" ]; then
  (umask 077; head -c 18 /dev/urandom | base64 >"$dir/$lab.password")
fi
rm -f "$dir/passwords"
touch "$dir/passwords"
chmod 600 "$dir/passwords"
mosquitto_passwd -b "$dir/passwords" "$lab" "$(head -n 1 "$dir/$lab.password")"
cp "$repo/deploy/mosquitto/acl" "$dir/acl"
# Viewers without an account only while the server does not authenticate its clients
# (Authenticate=true in orvexa.cfg), unless ORVEXA_MQTT_ANONYMOUS says otherwise.
anonymous="${ORVEXA_MQTT_ANONYMOUS:-}"
if [ -z "$anonymous" ]; then
  anonymous=true
  if grep -Eq '(^|[[:space:]])Authenticate[[:space:]]*=[[:space:]]*true' orvexa.cfg 2>/dev/null; then
    anonymous=false
  fi
fi
sed -e "s|@DIR@|$dir|g" -e "s|@PORT@|$port|g" -e "s|@WS_PORT@|$ws_port|g" \
    -e "s|@ALLOW_ANONYMOUS@|$anonymous|g" \
    "$repo/deploy/mosquitto/mosquitto.conf.in" >"$dir/mosquitto.conf"
if [ "$mode" = prepare ]; then exit 0; fi
run_as=()
if [ "$(id -u)" -eq 0 ]; then
  chown -R nobody:nogroup "$dir"
  chmod 700 "$dir"
  run_as=(runuser -u nobody --)
fi
echo "Live data: mqtt://127.0.0.1:$port as lab \"$lab\", browsers at /mqtt (log on standard error)"
# A descriptor per viewer: runuser (and many logins) start with a soft limit of 1024,
# about 1000 viewers, beyond which the broker leaves connections hanging unanswered.
raise_limit=(bash -c 'ulimit -n "$(ulimit -Hn)"; exec "$@"' broker)
exec bash "$repo/scripts/beside-server.sh" "$server_pid" "${run_as[@]}" "${raise_limit[@]}" \
  mosquitto -c "$dir/mosquitto.conf"
