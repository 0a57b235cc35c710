#!/usr/bin/env bash
# tarvik -batch on 300 generated voice lines (2 to 8 s, 22050/44100 Hz, mono/stereo) against a
# shell loop running LAME's lame program on each file at the same effective settings (64 kbps
# mono or 128 kbps joint stereo, the encoder's default quality). Whole-process times, best of
# several runs. Usage: bench/batch_vs_lame.sh [runs] [files]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
count=${2:-300}
tarvik=$PWD/build/bin/tarvik
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bench/make_voice_lines.sh "$work/voices" "$count"

# The channel count is looked up before timing, so the loop times lame alone.
declare -A modes
for f in "$work"/voices/*.wav; do modes[$f]=$(soxi -c "$f"); done
lame_loop() {
  for f in "$work"/voices/*.wav; do
    if [ "${modes[$f]}" = 1 ]; then set -- -b 64 -m m; else set -- -b 128 -m j; fi
    lame --quiet "$@" "$f" "$work/lame/$(basename "${f%.wav}").mp3"
  done
}
now() { date +%s.%N; }
best_t=999999 best_l=999999
for ((r = 0; r < runs; r++)); do
  rm -rf "$work/mp3" "$work/lame"; mkdir -p "$work/lame"
  s=$(now); "$tarvik" -batch "$work/voices" "$work/mp3" >/dev/null; e=$(now)
  t=$(echo "$e - $s" | bc -l)
  s=$(now); lame_loop; e=$(now)
  l=$(echo "$e - $s" | bc -l)
  best_t=$(echo "if ($t < $best_t) $t else $best_t" | bc -l)
  best_l=$(echo "if ($l < $best_l) $l else $best_l" | bc -l)
done
printf '%d files, best of %d: tarvik -batch %.2f s, lame loop %.2f s, ratio %.3f (bar: <= 1.05)\n' \
  "$count" "$runs" "$best_t" "$best_l" "$(echo "$best_t / $best_l" | bc -l)"
printf 'per file: tarvik %.1f ms, lame %.1f ms\n' "$(echo "$best_t * 1000 / $count" | bc -l)" \
  "$(echo "$best_l * 1000 / $count" | bc -l)"
