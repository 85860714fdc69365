#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs each one for a short,
# bounded time over its corpus in fuzz/corpus/<target>. Seconds per target: $1 (default 20).
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_PER_TARGET="${1:-20}"
source scripts/compiler-cache.sh
cmake -S . -B build-fuzz -DORVEXA_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo "${CACHE_ARGS[@]}" \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build-fuzz -j "$(nproc)"
shopt -s nullglob
for target in build-fuzz/fuzz/*_fuzz; do
  name="$(basename "$target")"
  corpus="fuzz/corpus/${name%_fuzz}"
  mkdir -p "$corpus"
  work="$(mktemp -d)"
  echo "fuzz: $name for ${SECONDS_PER_TARGET}s"
  "$target" -max_total_time="$SECONDS_PER_TARGET" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=0 "$work" "$corpus" >"$work.log" 2>&1 || {
      tail -n 60 "$work.log"; echo "fuzz: $name FAILED"; exit 1; }
  tail -n 1 "$work.log"
  rm -rf "$work" "$work.log"
done
