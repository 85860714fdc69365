#!/usr/bin/env bash
# Runs a helper of the run command (nginx, the broker) until the server's process ends,
# or until the helper itself ends (it could not start). Arguments: the server's process
# id, then the helper's command line.
set -uo pipefail
server_pid="$1"
shift
"$@" &
helper_pid=$!
tail --pid="$server_pid" -f /dev/null &
watcher=$!
wait -n "$helper_pid" "$watcher" || true
kill "$helper_pid" "$watcher" 2>/dev/null || true
wait "$helper_pid" 2>/dev/null || true
