#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The main job on generated sample voice lines: installs what is missing, builds, speaks a
# dozen lines with espeak-ng (each with its script beside it as NAME.txt), converts them to a
# few rates and channel counts with sox, adds a file below 10000 bytes and one that is not
# audio, then runs
#   tarvik -batch -lips demo-out/voices demo-out/mp3
# and lists what was produced and the failure report.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh release

demo=demo-out
rm -rf "$demo"
mkdir -p "$demo/voices" "$demo/tmp"
lines=(
  "Halt! Who goes there?"
  "The bridge is out. We will have to find another way across."
  "I have not seen a storm like this since I was a boy."
  "Keep your voice down, the guards are changing shifts."
  "Take this key. It opens the old cellar door."
  "You again? I told you, the shop is closed."
  "Follow the river north until you reach the mill."
  "Nobody leaves this town after dark. Nobody."
  "The captain wants to see you on the upper deck."
  "Quick, hide behind the barrels!"
  "I can pay you twice that if the job is done tonight."
  "Well met, traveller. Rest a while by the fire."
)
formats=("-r 22050 -c 1" "-r 44100 -c 1" "-r 22050 -c 2" "-r 44100 -c 2" "-r 48000 -c 1" "-r 16000 -c 1")
for i in "${!lines[@]}"; do
  n=$(printf '%02d' $((i + 1)))
  espeak-ng -v en -s 150 -w "$demo/tmp/line$n.wav" "${lines[$i]}"
  # shellcheck disable=SC2086
  sox "$demo/tmp/line$n.wav" ${formats[$((i % ${#formats[@]}))]} -b 16 "$demo/voices/npc_line$n.wav" pad 0.2 0.3
  # The line's script beside its recording: -lips aligns the mouth shapes to its words.
  printf '%s\n' "${lines[$i]}" > "$demo/voices/npc_line$n.txt"
done
sox -n -r 8000 -c 1 -b 16 "$demo/voices/grunt_short.wav" synth 0.3 sine 180 vol 0.2  # below 10000 bytes
head -c 20000 /dev/urandom | base64 > "$demo/voices/readme_not_audio.wav"           # not audio
rm -rf "$demo/tmp"

echo
echo "== tarvik -batch -lips $demo/voices $demo/mp3"
status=0
build/bin/tarvik -batch -lips "$demo/voices" "$demo/mp3" || status=$?
echo
echo "== exit status: $status (0: all converted, 1: some files failed, 255: nothing to do)"
echo
echo "== produced in $demo/mp3:"
ls -l "$demo/mp3"
if [ -f "$demo/mp3/failed conversions.txt" ]; then
  echo
  echo "== $demo/mp3/failed conversions.txt:"
  cat "$demo/mp3/failed conversions.txt"
fi
if [ -x build/bin/lipsync ] && ls "$demo"/mp3/*.vlp >/dev/null 2>&1; then
  first=$(ls "$demo"/mp3/*.vlp | head -n 1)
  echo
  echo "== build/bin/lipsync --dump $first (first lines):"
  build/bin/lipsync --dump "$first" | head -n 15
fi
