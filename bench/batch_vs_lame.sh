#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# tarvik -batch on 300 generated voice lines (2 to 8 s, 22050/44100 Hz, mono/stereo) against a
# shell loop running LAME's lame program on each file at the same effective settings.
# Whole-process times, best of several runs. Usage: bench/batch_vs_lame.sh [runs] [files]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
count=${2:-300}
source bench/batch_common.sh
best_t=999999 best_l=999999
for ((r = 0; r < runs; r++)); do
  rm -rf "$work/mp3" "$work/lame"; mkdir -p "$work/lame"
  best_t=$(min "$(timed "$tarvik" -batch "$work/voices" "$work/mp3")" "$best_t")
  best_l=$(min "$(timed lame_loop)" "$best_l")
done
printf '%d files, best of %d: tarvik -batch %.2f s, lame loop %.2f s, ratio %.3f (bar: <= 1.05)\n' \
  "$count" "$runs" "$best_t" "$best_l" "$(echo "$best_t / $best_l" | bc -l)"
printf 'per file: tarvik %.1f ms, lame %.1f ms\n' "$(echo "$best_t * 1000 / $count" | bc -l)" \
  "$(echo "$best_l * 1000 / $count" | bc -l)"
