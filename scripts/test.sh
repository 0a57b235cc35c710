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
  (cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
     ctest --output-on-failure -j "$jobs")
fi
