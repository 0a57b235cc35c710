#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# tarvik -wav against LAME's own lame program on the same 5-minute 44.1 kHz mono WAV, at the
# same effective settings (64 kbps CBR mono, LAME's default quality). Prints the ratio of
# whole-process times and the peak memory of each; then peak memory for 1- and 60-minute
# WAVs and a one-hour 48 kHz stereo silence run.
# Usage: bench/encode_vs_lame.sh [runs]   (build first: scripts/build.sh release)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
tarvik=$PWD/build/bin/tarvik
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Speech-like material: noise shaped by a tremolo, so the encoder has real work to do.
make_wav() { sox -n -r 44100 -c 1 -b 16 "$1" synth "$2" pinknoise tremolo 3 80 vol 0.3; }
make_wav "$work/five.wav" 300

peak_kib() { /usr/bin/time -f '%M' "$@" 2>&1 >/dev/null | tail -n 1; }
seconds() { local s e; s=$(date +%s.%N); "$@" >/dev/null 2>&1; e=$(date +%s.%N); echo "$e - $s" | bc -l; }

best_tarvik=999 best_lame=999
for ((i = 0; i < runs; i++)); do
  t=$(seconds "$tarvik" -wav -numbar "$work/five.wav" "$work/out")
  l=$(seconds lame --quiet -b 64 -m m "$work/five.wav" "$work/lame.mp3")
  best_tarvik=$(echo "if ($t < $best_tarvik) $t else $best_tarvik" | bc -l)
  best_lame=$(echo "if ($l < $best_lame) $l else $best_lame" | bc -l)
done
printf 'best of %d runs: tarvik %.3f s, lame %.3f s, ratio %.3f (bar: <= 1.03)\n' "$runs" \
  "$best_tarvik" "$best_lame" "$(echo "$best_tarvik / $best_lame" | bc -l)"
printf 'peak memory, 5-minute WAV: tarvik %s KiB, lame %s KiB\n' \
  "$(peak_kib "$tarvik" -wav "$work/five.wav" "$work/out")" \
  "$(peak_kib lame --quiet -b 64 -m m "$work/five.wav" "$work/lame.mp3")"

make_wav "$work/one.wav" 60
make_wav "$work/sixty.wav" 3600
printf 'peak memory, tarvik: 1-minute WAV %s KiB, 60-minute WAV %s KiB (bar: < 16384, equal)\n' \
  "$(peak_kib "$tarvik" -wav "$work/one.wav" "$work/out")" \
  "$(peak_kib "$tarvik" -wav "$work/sixty.wav" "$work/out")"
rm -f "$work"/*.wav
printf 'peak memory, tarvik: one-hour 48000 Hz stereo silence %s KiB (bar: < 16384)\n' \
  "$(peak_kib "$tarvik" -srate 48000 -mode stereo 3600 "$work/out")"
