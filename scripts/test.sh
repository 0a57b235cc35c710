#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through CTest: the release build,
# then the whole suite again under the address and undefined-behaviour sanitizers.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
jobs=$(nproc)

echo "== release build"
scripts/build.sh release
(cd build && ctest --output-on-failure -j "$jobs")

if [ "${TARVIK_SKIP_SANITIZERS:-0}" != 1 ]; then
  echo "== address + undefined-behaviour sanitizer build"
  scripts/build.sh asan
  (cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
     ctest --output-on-failure -j "$jobs")

  echo "== thread sanitizer build: the parallel batch and concurrent encoder streams"
  scripts/build.sh tsan
  (cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
     ctest --output-on-failure -j "$jobs" -R 'ParallelBatch|AdapterThreads|AudioDevice|AudioRing')

  echo "== fuzz targets, ${TARVIK_FUZZ_SECONDS:-15} seconds each"
  scripts/fuzz.sh "${TARVIK_FUZZ_SECONDS:-15}"
fi
