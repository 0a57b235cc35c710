# SPDX-License-Identifier: GPL-3.0-or-later
# Shared by the batch benchmarks (sourced): a work folder of generated voice lines, the shell
# loop of LAME's lame program at tarvik's effective settings, and timing helpers.
# Needs: runs, count. Sets: tarvik, work.
tarvik=$PWD/build/bin/tarvik
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bench/make_voice_lines.sh "$work/voices" "$count"

# The channel count is looked up before timing, so the loop times lame alone: 64 kbps mono
# or 128 kbps joint stereo, the encoder's default quality.
declare -A modes
for f in "$work"/voices/*.wav; do modes[$f]=$(soxi -c "$f"); done
lame_loop() {
  for f in "$work"/voices/*.wav; do
    if [ "${modes[$f]}" = 1 ]; then set -- -b 64 -m m; else set -- -b 128 -m j; fi
    lame --quiet "$@" "$f" "$work/lame/$(basename "${f%.wav}").mp3"
  done
}
now() { date +%s.%N; }
timed() { local s e; s=$(now); "$@" >/dev/null; e=$(now); echo "$e - $s" | bc -l; }
min() { echo "if ($1 < $2) $1 else $2" | bc -l; }
