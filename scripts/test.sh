#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, checks the formatting, builds, and runs every test through CTest: the release build,
# then the whole suite again under the address and undefined-behaviour sanitizers, the
# threaded parts under ThreadSanitizer, and each fuzz target for a short time.
# TARVIK_SKIP_SANITIZERS=1 runs the release suite only; TARVIK_FUZZ_SECONDS sets the fuzz time.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
jobs=$(nproc)
results=$(mktemp)
trap 'rm -f "$results"' EXIT

# Runs ctest in a build folder with the given arguments and keeps its summary line.
run_ctest() {
  local dir=$1
  shift
  (cd "$dir" && ctest --output-on-failure -j "$jobs" "$@") | tee -a "$results"
}

echo "== formatting: every C and C++ source against .clang-format"
find common platform lame_enc encoder lipsync audio frontend tests bench \
  \( -name '*.[ch]' -o -name '*.[ch]pp' \) -print0 | xargs -0 clang-format --dry-run -Werror

echo "== release build"
scripts/build.sh release
run_ctest build

if [ "${TARVIK_SKIP_SANITIZERS:-0}" != 1 ]; then
  echo "== address + undefined-behaviour sanitizer build"
  scripts/build.sh asan
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 run_ctest build-asan

  echo "== thread sanitizer build: the parallel batch, concurrent encoder streams and playback threads"
  scripts/build.sh tsan
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    run_ctest build-tsan -R 'SameResultsWhatever|BatchKilledOrInterrupted|AdapterThreads|PlaysEachFormat'

  echo "== fuzz targets, ${TARVIK_FUZZ_SECONDS:-15} seconds each"
  scripts/fuzz.sh "${TARVIK_FUZZ_SECONDS:-15}"
fi

# One closing line over every ctest run above (each run has already failed the script if
# any of its tests failed).
awk '/tests passed, [0-9]+ tests failed out of/ { total += $NF; failed += $4 }
     END { printf "all runs: %d passed, %d failed\n", total - failed, failed }' "$results"
