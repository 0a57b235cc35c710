#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# tarvik -batch -lips on 300 generated voice lines with -jobs 1 against -jobs 2, and against a
# shell loop of LAME's lame program (same settings, no lip-sync). Whole-process times, best of
# several runs. Usage: bench/batch_parallel.sh [runs] [files]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
count=${2:-300}
source bench/batch_common.sh
b1=999999 b2=999999 bl=999999
for ((r = 0; r < runs; r++)); do
  rm -rf "$work/j1" "$work/j2" "$work/lame"; mkdir -p "$work/lame"
  b1=$(min "$(timed "$tarvik" -batch -jobs 1 -lips "$work/voices" "$work/j1")" "$b1")
  b2=$(min "$(timed "$tarvik" -batch -jobs 2 -lips "$work/voices" "$work/j2")" "$b2")
  bl=$(min "$(timed lame_loop)" "$bl")
done
printf '%d files with -lips, best of %d: -jobs 1 %.2f s, -jobs 2 %.2f s, ratio %.3f (bar: <= 0.56)\n' \
  "$count" "$runs" "$b1" "$b2" "$(echo "$b2 / $b1" | bc -l)"
printf 'against the lame loop (%.2f s): -jobs 2 ratio %.3f (bar: <= 0.56)\n' "$bl" "$(echo "$b2 / $bl" | bc -l)"
