#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# tarvik -batch -recurse on a tree of COUNT tiny WAVs (just above the 10000-byte minimum) in
# COUNT/100 folders, against a flat -batch of one folder (at most 16384 files, the flat
# limit: per-file time and memory are compared). Peak memory from /usr/bin/time -v; memory
# per file is the peak less that of a one-file run, divided by the files.
# Usage: bench/tree.sh [COUNT] [JOBS]
set -euo pipefail
cd "$(dirname "$0")/.."
count=${1:-100000}
jobs=${2:-1}
per_folder=100
tarvik=$PWD/build/bin/tarvik
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One WAV made by sox (5000 frames of 16-bit mono: 10044 bytes), then plain copies, a folder
# at a time.
sox -n -r 8000 -c 1 -b 16 "$work/line.wav" synth 0.625 sine 440
copies() { # DIR FIRST LAST: DIR/lineFIRST.wav ... DIR/lineLAST.wav
  local names=() i name
  mkdir -p "$1"
  for ((i = $2; i <= $3; i++)); do
    printf -v name '%s/line%06d.wav' "$1" "$i"
    names+=("$name")
  done
  tee "${names[@]}" <"$work/line.wav" >/dev/null
}
folders=$(((count + per_folder - 1) / per_folder))
start=$(date +%s.%N)
for ((f = 0; f < folders; f++)); do
  last=$(((f + 1) * per_folder - 1)); ((last < count)) || last=$((count - 1))
  printf -v dir '%s/tree/part%02d/folder%04d' "$work" $((f % 10)) "$f"
  copies "$dir" $((f * per_folder)) "$last"
done
flat=$((count < 16384 ? count : 16384))
for ((i = 0; i < flat; i += 1000)); do
  last=$((i + 999)); ((last < flat)) || last=$((flat - 1))
  copies "$work/flat" "$i" "$last"
done
copies "$work/one" 0 0
printf 'generated %d + %d WAVs in %.1f s\n' "$count" "$flat" "$(echo "$(date +%s.%N) - $start" | bc -l)"

# RUN NAME ARGS...: wall seconds and peak KiB of one tarvik run.
run() {
  local name=$1; shift
  /usr/bin/time -v -o "$work/$name.time" "$tarvik" -batch -jobs "$jobs" "$@" >/dev/null
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {n = split($2, p, ":"); s = 0;
         for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s}' "$work/$name.time")
  peak=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/$name.time")
}
run one "$work/one" "$work/out-one"; base=$peak
report() { # LABEL FILES
  printf '%-34s %7d files  %8.1f s  %6.3f ms/file  peak %7d KiB  %5.0f B/file above a 1-file run\n' \
    "$1" "$2" "$wall" "$(echo "$wall * 1000 / $2" | bc -l)" "$peak" \
    "$(echo "($peak - $base) * 1024 / $2" | bc -l)"
}
run tree -recurse "$work/tree" "$work/out-tree"
report "-recurse, $folders folders" "$count"
run flat "$work/flat" "$work/out-flat"
report "flat, one folder" "$flat"
echo "(a one-file run peaks at $base KiB; -jobs $jobs)"
made=$(find "$work/out-tree" -name '*.mp3' | wc -l)
[ "$made" -eq "$count" ] || { echo "only $made of $count MP3s made" >&2; exit 1; }
