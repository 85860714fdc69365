#!/usr/bin/env bash
# Builds the tests with sanitizers and runs them: an AddressSanitizer+UndefinedBehavior-
# Sanitizer build (build-asan/) running the whole CTest suite, and a ThreadSanitizer build
# (build-tsan/) running the suites that exercise threads. Benchmarks and fuzz targets are
# not built. Called by .ci/run after the README's test command; by hand:
#   bash scripts/sanitizers.sh          # both
#   bash scripts/sanitizers.sh asan     # one of them (asan or tsan)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

source scripts/compiler-cache.sh
WHICH="${1:-all}"
JOBS="$(nproc)"

# Every report ends the test that caused it; leaks are reported at exit. Third-party
# leaks that are not ours to fix are listed, each with its reason, in the suppression file.
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export LSAN_OPTIONS="suppressions=$PWD/scripts/sanitizer-suppressions/lsan.supp:print_suppressions=0"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"

configure() {  # folder, sanitizer flags, further CMake options
  local dir="$1" flags="$2"
  shift 2
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVEXA_BENCH=OFF "${CACHE_ARGS[@]}" "$@" \
    -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
    -DCMAKE_EXE_LINKER_FLAGS="$flags" -DCMAKE_SHARED_LINKER_FLAGS="$flags" >/dev/null
}

if [ "$WHICH" = all ] || [ "$WHICH" = asan ]; then
  echo "sanitizers: AddressSanitizer + UndefinedBehaviorSanitizer, whole suite"
  configure build-asan "-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer" -DORVEXA_GUI=ON
  cmake --build build-asan -j "$JOBS"
  (cd build-asan && ctest --output-on-failure -j "$JOBS" --timeout 900)
fi

if [ "$WHICH" = all ] || [ "$WHICH" = tsan ]; then
  echo "sanitizers: ThreadSanitizer, the suites that run threads"
  # The operator window's suites do not run here, so the toolkit is left out.
  configure build-tsan "-fsanitize=thread -fno-omit-frame-pointer" -DORVEXA_GUI=OFF
  cmake --build build-tsan -j "$JOBS"
  # Each test carries its suite folder as a label.
  (cd build-tsan && ctest --output-on-failure -j "$JOBS" --timeout 900 \
     -L '^(serving|sessions|transport|logging|experiments|protocol|plugins|host|publish|platform)$')
fi
