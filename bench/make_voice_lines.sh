#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Generates N voice lines of 2 to 8 seconds into DIR: espeak-ng speech padded with sox to its
# length, at 22050 or 44100 Hz, mono or stereo. Usage: bench/make_voice_lines.sh DIR [N]
set -euo pipefail
dir=$1
count=${2:-300}
mkdir -p "$dir"
words=(north river guard captain storm cellar bridge lantern market harbour tavern forest)
seed=$(mktemp)
for ((i = 0; i < count; i++)); do
  n=$(printf '%03d' "$i")
  text="${words[$((i % 12))]} ${words[$(((i * 7 + 3) % 12))]}, line $i. The ${words[$(((i * 5 + 1) % 12))]} waits by the ${words[$(((i * 11 + 2) % 12))]}."
  espeak-ng -s 160 -w "$seed" "$text"
  length=$((2 + i % 7))
  rate=$((i % 2 == 0 ? 22050 : 44100))
  channels=$((i % 4 < 2 ? 1 : 2))
  sox -V1 "$seed" -r "$rate" -c "$channels" -b 16 "$dir/line$n.wav" pad 0 8 trim 0 "$length"
done
rm -f "$seed"
