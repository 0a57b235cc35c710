#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# tarvik -batch -update -lips on COUNT spoken voice lines (espeak-ng, each with its text beside
# it as NAME.txt): a first run; a re-run with nothing changed (bar: at most 3% of the first
# run's time); then a re-run after 10 WAVs and 2 texts changed, which must make exactly those
# 12 lines again. Usage: bench/update.sh [COUNT] [JOBS]
set -euo pipefail
cd "$(dirname "$0")/.."
count=${1:-3000}
jobs=${2:-2}
((count >= 20)) || { echo "COUNT must be at least 20" >&2; exit 2; }
tarvik=$PWD/build/bin/tarvik
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
voices=$work/voices
mkdir -p "$voices"

words=(north river guard captain storm cellar bridge lantern market harbour tavern forest)
# SAY I SPEED: line I spoken at SPEED words a minute, its text beside it.
say() {
  local name text
  printf -v name '%s/line%05d' "$voices" "$1"
  text="${words[$(($1 % 12))]} ${words[$((($1 * 7 + 3) % 12))]}, line $1. The ${words[$((($1 * 5 + 1) % 12))]} waits by the ${words[$((($1 * 11 + 2) % 12))]}."
  printf '%s\n' "$text" >"$name.txt"
  espeak-ng -s "$2" -w "$name.wav" "$text"
}
start=$(date +%s.%N)
for ((i = 0; i < count; i++)); do say "$i" 160; done
printf 'generated %d lines (%s of WAVs) in %.0f s\n' "$count" \
  "$(du -sh --apparent-size "$voices" | cut -f1)" "$(echo "$(date +%s.%N) - $start" | bc -l)"

# RUN NAME: one -update run; its log in $work/NAME.log, its seconds printed.
run() {
  local s e status=0
  s=$(date +%s.%N)
  "$tarvik" -batch -update -lips -jobs "$jobs" "$voices" "$work/out" >"$work/$1.log" 2>&1 || status=$?
  e=$(date +%s.%N)
  ((status == 0)) || { echo "run $1 ended with $status" >&2; tail -20 "$work/$1.log" >&2; exit 1; }
  echo "$e - $s" | bc -l
}
remade() { grep -o '^Input file = "[^"]*"' "$work/$1.log" | sed 's/.*\/\(line[0-9]*\)\.wav"/\1/' | sort; }

first=$(run first)
again=$(run again)
grep -q "| $count/$count WAV files up to date" "$work/again.log" && [ -z "$(remade again)" ] ||
  { echo "the re-run made lines again" >&2; exit 1; }

# Ten WAVs spoken anew (slower), two other lines' texts changed.
expected=()
for ((k = 0; k < 10; k++)); do
  i=$((k * count / 10))
  say "$i" 130
  expected+=("$(printf 'line%05d' "$i")")
done
for i in $((count / 20)) $((count / 20 + count / 10)); do
  printf -v name '%s/line%05d' "$voices" "$i"
  echo "Halt! Who goes there?" >"$name.txt"
  expected+=("$(printf 'line%05d' "$i")")
done
changed=$(run changed)
want=$(printf '%s\n' "${expected[@]}" | sort)
got=$(remade changed)
[ "$got" = "$want" ] || { printf 'made again:\n%s\nexpected:\n%s\n' "$got" "$want" >&2; exit 1; }

bytes=$(find "$voices" "$work/out" -type f ! -name '.*' -printf '%s\n' | awk '{s += $1} END {print s}')
printf '%d lines, -lips, -jobs %d:\n' "$count" "$jobs"
printf '  first run            %8.2f s\n' "$first"
printf '  nothing changed      %8.2f s  (%.2f%% of the first; bar: <= 3%%), %.3f ms a line, %d MiB hashed\n' \
  "$again" "$(echo "$again * 100 / $first" | bc -l)" "$(echo "$again * 1000 / $count" | bc -l)" \
  $((bytes / 1048576))
printf '  10 WAVs + 2 texts    %8.2f s  exactly those 12 lines made again\n' "$changed"
