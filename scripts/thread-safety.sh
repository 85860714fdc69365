#!/usr/bin/env bash
# The lock rules checked by the compiler: builds the server's libraries, the program, the
# client, the archiver and the plug-ins with clang and -Wthread-safety -Werror in
# build-tsa/ (tests, benchmarks and tools are not built: they need not follow the
# annotations). A member used without the lock it is GUARDED_BY, or a function called
# without the lock it REQUIRES, fails this build; the beta checks add the lock orders
# (ACQUIRED_BEFORE / ACQUIRED_AFTER) between locks of one object. Called by .ci/run; by
# hand:
#   bash scripts/thread-safety.sh
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

source scripts/compiler-cache.sh
cmake -S . -B build-tsa -DCMAKE_BUILD_TYPE=None -DORVEXA_BENCH=OFF "${CACHE_ARGS[@]}" \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS="-Wthread-safety -Wthread-safety-beta -Werror" >/dev/null
# Every library and plug-in that src/ and plugins/ define.
targets=(orvexa orvexa_client orvexa_archive pinvane simulator_plugin)
cmake --build build-tsa -j "$(nproc)" --target "${targets[@]}"
echo "thread-safety: clean"
