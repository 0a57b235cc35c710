#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the libFuzzer targets with clang and runs each for SECONDS (default 60) on its seed
# corpus. Crash inputs are written to build-fuzz/crashes/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
scripts/build.sh fuzz
status=0
for target in build-fuzz/fuzz/*_fuzz; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus=build-fuzz/corpus/$name
  crashes=build-fuzz/crashes/$name
  mkdir -p "$corpus" "$crashes"
  if [ -x "tests/fuzz/seeds/$name.sh" ]; then "tests/fuzz/seeds/$name.sh" "$corpus"; fi
  echo "== $name for ${seconds}s"
  if ! "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -artifact_prefix="$crashes/" "$corpus" 2> "build-fuzz/$name.log"; then
    echo "$name found a fault; see build-fuzz/$name.log and $crashes" >&2
    tail -n 30 "build-fuzz/$name.log" >&2
    status=1
  fi
  grep -E '^(#[0-9]+|Done)' "build-fuzz/$name.log" | tail -n 1 || true
done
exit $status
