#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Seeds the VLP reader's corpus: the example of docs/vlp-format.md, the smallest valid file,
# a file of a later version with longer header and cues, and, when lipsync has been built
# and espeak-ng is there, the VLP of a spoken line.
# Usage: vlp_reader_fuzz.sh <corpus-dir>
set -euo pipefail
corpus=${1:?corpus directory}
root=$(cd "$(dirname "$0")/../../.." && pwd)
mkdir -p "$corpus"

# 2 s at 44100 Hz: X at 0, D at 0.37 s (opening 200), X at 1.50 s
printf 'TVLP\x01\x00\x20\x00\x44\xac\x00\x00\x88\x58\x01\x00\x00\x00\x00\x00\x64\x00\x08\x00\xc8\x00\x00\x00\x03\x00\x00\x00''\x00\x00\x00\x00X\x00\x00\x00''\x25\x00\x00\x00D\xc8\x00\x00''\x96\x00\x00\x00X\x00\x00\x00' \
  > "$corpus/seed-example"
# one X cue over 10 ms at 8000 Hz
printf 'TVLP\x01\x00\x20\x00\x40\x1f\x00\x00\x50\x00\x00\x00\x00\x00\x00\x00\x64\x00\x08\x00\x01\x00\x00\x00\x01\x00\x00\x00''\x00\x00\x00\x00X\x00\x00\x00' \
  > "$corpus/seed-smallest"
# version 2: header of 40 bytes, cues of 12 bytes, a trailing section
printf 'TVLP\x02\x00\x28\x00\x22\x56\x00\x00\x22\x56\x00\x00\x00\x00\x00\x00\x64\x00\x0c\x00\x64\x00\x00\x00\x02\x00\x00\x00''\x01\x02\x03\x04\x05\x06\x07\x08''\x00\x00\x00\x00X\x00\x00\x00\xee\xee\xee\xee''\x10\x00\x00\x00A\x00\x00\x00\xee\xee\xee\xee''trailer' \
  > "$corpus/seed-later-version"

for lipsync in "$root/build-fuzz/bin/lipsync" "$root/build/bin/lipsync"; do
  if [ -x "$lipsync" ] && command -v espeak-ng >/dev/null; then
    work=$(mktemp -d)
    espeak-ng -w "$work/line.wav" "Peter Piper picked a peck of pickled peppers" &&
      "$lipsync" -q "$work/line.wav" && cp "$work/line.vlp" "$corpus/seed-speech"
    rm -rf "$work"
    break
  fi
done
