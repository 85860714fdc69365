#!/usr/bin/env bash
# Started by run-server.sh when ORVEXA_ARCHIVE=1: a private PostgreSQL cluster in
# run/archive-db (run as nobody, since initdb and postgres refuse root; its socket in
# that folder, no TCP) and the archiver following the server as lab "local" (on the
# port its arguments name, 8899 by default). Both end when the process SERVER_PID ends.
# Usage: archive-cluster.sh SERVER_PID [server arguments]
set -euo pipefail
server_pid=$1
shift
port=8899
previous=""
for a in "$@"; do
  case "$previous" in /port|-port) port=$a ;; esac
  previous=$a
done
bin=/usr/lib/postgresql/15/bin
data=$PWD/archive-db
run_as=()
[ "$(id -u)" -eq 0 ] && run_as=(setpriv --reuid=nobody --regid=nogroup --clear-groups --)
if [ ! -e "$data/PG_VERSION" ]; then
  mkdir -p "$data"
  [ "$(id -u)" -eq 0 ] && chown nobody "$data"
  "${run_as[@]}" "$bin/initdb" --no-sync -A trust -D "$data" >archive-initdb.log
fi
"${run_as[@]}" "$bin/postgres" -D "$data" -k "$data" -c listen_addresses= >archive-db.log 2>&1 &
db_pid=$!
user=$(stat -c %U "$data")
../build/orvexa-archiver --server "local=127.0.0.1:$port" \
  --database "host=$data user=$user dbname=postgres" 2>>archiver.log &
archiver_pid=$!
echo "Archive: psql -h $data -U $user postgres (archiver messages in run/archiver.log)"
while kill -0 "$server_pid" 2>/dev/null; do sleep 2; done
kill "$archiver_pid" 2>/dev/null || true
wait "$archiver_pid" 2>/dev/null || true
kill -INT "$db_pid" 2>/dev/null || true
wait "$db_pid" 2>/dev/null || true
