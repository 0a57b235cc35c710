#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# lipsync on a 5-minute voice recording (espeak-ng speech with pauses, 44100 Hz stereo 16-bit)
# pinned to one core: the best of several runs as times faster than real time, for the
# default analysis (phone recognition; bar: >= 20) and --fast (bar: >= 500). Then the same
# on ten short voice lines, one process each, as tarvik -lips runs it: start-up and model
# loading count there.
# Usage: bench/lipsync_speed.sh [runs] [lipsync binary]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
lipsync=${2:-$PWD/build/bin/lipsync}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Ten different lines with pauses between them, repeated to five minutes.
mapfile -t lines < bench/lipsync_lines.txt # ten voice lines
parts=()
for i in "${!lines[@]}"; do
  espeak-ng -w "$work/line$i.wav" "${lines[$i]}"
  sox -D -n -r 22050 -c 1 -b 16 "$work/pause$i.wav" trim 0 "0.$((3 + i % 6))"
  parts+=("$work/line$i.wav" "$work/pause$i.wav")
done
sox "${parts[@]}" "$work/round.wav"
sox -D "$work/round.wav" -r 44100 -c 2 -b 16 "$work/long.wav" repeat 20
sox -D "$work/long.wav" "$work/voice.wav" trim 0 300
seconds=$(soxi -D "$work/voice.wav")

measure() { # bar, then lipsync's options
  local bar=$1 best=999999 t
  shift
  for ((r = 0; r < runs; r++)); do
    # user + system time of the one process, pinned to the first core
    t=$( { /usr/bin/time -f "%U %S" taskset -c 0 "$lipsync" -q "$@" "$work/voice.wav" >/dev/null; } 2>&1 |
        awk '{print $1 + $2}')
    best=$(echo "if ($t < $best) $t else $best" | bc -l)
  done
  [ -s "$work/voice.vlp" ] || { echo "lipsync wrote no VLP" >&2; exit 1; }
  cues=$("$lipsync" --dump "$work/voice.vlp" | sed -n 's/^cues: //p')
  # /usr/bin/time reports hundredths: never divide by zero.
  best=$(echo "if ($best < 0.01) 0.01 else $best" | bc -l)
  printf '%-9s %.0f s of 44100 Hz stereo speech, %s cues: best of %d runs %.2f s CPU on one core = %.0f x real time (bar: >= %s)\n' \
    "${1:-default}" "$seconds" "$cues" "$runs" "$best" "$(echo "$seconds / $best" | bc -l)" "$bar"
}
measure 20
measure 500 --fast

line_seconds=0
for i in "${!lines[@]}"; do
  line_seconds=$(echo "$line_seconds + $(soxi -D "$work/line$i.wav")" | bc -l)
done
measure_lines() { # bar, then lipsync's options
  local bar=$1 best=999999 t
  shift
  for ((r = 0; r < runs; r++)); do
    # the loop's arguments: lipsync, the number of options, the options, the lines
    t=$( { /usr/bin/time -f "%U %S" taskset -c 0 bash -c \
        'l=$1 n=$2; shift 2; o=("${@:1:n}"); shift "$n"
         for f in "$@"; do "$l" -q "${o[@]}" "$f" || exit 1; done' \
        _ "$lipsync" $# "$@" "$work"/line?.wav >/dev/null; } 2>&1 | awk '{print $1 + $2}')
    best=$(echo "if ($t < $best) $t else $best" | bc -l)
  done
  best=$(echo "if ($best < 0.01) 0.01 else $best" | bc -l)
  printf '%-9s %.1f s in %d lines of 22050 Hz speech, one process each: best of %d runs %.2f s CPU = %.0f x real time (bar: >= %s)\n' \
    "${1:-default}" "$line_seconds" "${#lines[@]}" "$runs" "$best" \
    "$(echo "$line_seconds / $best" | bc -l)" "$bar"
}
measure_lines 20
measure_lines 500 --fast
