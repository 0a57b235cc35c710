#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Lip-sync quality: share of 10 ms frames with the right mouth shape, per corpus, for --text,
# the default analysis (phone recognition), --fast and the trivial "B whenever loud", with
# rest/speech agreement and speed (one thread's CPU time). Corpora, all built here:
#   synthetic LANG  eSpeak NG speaking ten game lines in LANG (bench/lipsync_lines/LANG.txt;
#                   English: bench/lipsync_lines.txt) at 175 and 260 words a minute, each
#                   clean and with white noise 35 dB below the line's RMS level; truth:
#                   eSpeak's own IPA phoneme events (bench/lipsync_corpus.c)
#   prompts         recorded telephone prompts at 8 kHz (asterisk-core-sounds-en-wav) with
#                   their transcripts; truth: forced alignment of the transcript
#   clips           recorded 16 kHz clips (pocketsphinx-testdata) with their transcripts;
#                   truth: forced alignment
# Each corpus is then held to the bars (bench/lipsync_score.cpp prints PASS or FAIL for each):
# --text exact >= 0.75, rest/speech agreement >= 0.95, speed --text >= 20x real time.
# Usage: bench/lipsync_quality.sh [build dir] [--confusion [N]]
#   LIPSYNC_BENCH_LANGS="de fr"  only these languages (default: all below)
#   LIPSYNC_BENCH_LINES=N        only the first N lines of each language
#   LIPSYNC_BENCH_RECORDED=0     leave the recorded corpora out
#   LIPSYNC_BENCH_BY_VARIANT=1   one row per language, speed and noise
#   LIPSYNC_BENCH_KEEP=1         keep the corpus (its folder is printed)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cmake --build "$build" --target lipsync_corpus lipsync_score >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
[ -n "${LIPSYNC_BENCH_KEEP:-}" ] && trap - EXIT && echo "corpus in $work" >&2
list=$work/list.tsv
: >"$list"

# Mandarin is read from pinyin with tone numbers: Debian 12's eSpeak NG data reads Han
# characters in Mandarin badly.
read -r -a langs <<<"${LIPSYNC_BENCH_LANGS:-en-us de fr es it pt-br ru pl tr yue vi ja cmn-latn-pinyin}"
speeds=(175 260)
noise_db=35 # below the line's RMS level

# RMS level of a sound file in dB full scale.
rms_db() { sox "$1" -n stats 2>&1 | awk '$1 == "RMS" && $2 == "lev" { print $4 }'; }

for lang in "${langs[@]}"; do
  file=bench/lipsync_lines/$lang.txt
  [ "$lang" = en-us ] && file=bench/lipsync_lines.txt
  [ -f "$file" ] || { echo "lipsync_quality: no lines for $lang ($file)" >&2; exit 2; }
  mapfile -t lines < <(head -n "${LIPSYNC_BENCH_LINES:-1000}" "$file")
  for speed in "${speeds[@]}"; do
    for i in "${!lines[@]}"; do
      base=$work/$lang-$speed-$i
      "$build/bin/lipsync_corpus" "$lang" "${lines[$i]}" "$base" "$speed"
      # The same white noise for every run (-R: fixed seed; -D: no dither), scaled to lie
      # noise_db below the line's level; both at 0.9, as some voices reach full scale.
      sox -R -D "$base.wav" "$base-white.wav" synth whitenoise
      gain=$(awk -v s="$(rms_db "$base.wav")" -v n="$(rms_db "$base-white.wav")" \
        -v d="$noise_db" 'BEGIN { printf "%.6f", 0.9 * 10 ^ ((s - d - n) / 20) }')
      sox -R -D -m -v 0.9 "$base.wav" -v "$gain" "$base-white.wav" "$base-noisy.wav"
      rm "$base-white.wav"
      for noise in clean noisy; do
        sound=$base.wav
        [ "$noise" = noisy ] && sound=$base-noisy.wav
        corpus="synthetic $lang"
        [ -n "${LIPSYNC_BENCH_BY_VARIANT:-}" ] && corpus="synthetic $lang $speed $noise"
        printf '%s\t%s\t%s\t%s\t%s\n' "$corpus" "$sound" "$base.phn" "${lines[$i]}" "$lang" \
          >>"$list"
      done
    done
  done
done

if [ "${LIPSYNC_BENCH_RECORDED:-1}" != 0 ]; then
  prompts=/usr/share/asterisk/sounds/en_US_f_Allison
  transcripts=/usr/share/doc/asterisk-core-sounds-en/core-sounds-en.txt.gz
  if [ -d "$prompts" ] && [ -f "$transcripts" ]; then
    # Prompts whose transcript is plain words, 20 of them spread over the list.
    zcat "$transcripts" | grep -E '^[a-z0-9-]+: [A-Za-z ,.?'"'"']+$' |
      awk 'NR % 12 == 1' | head -20 | while IFS= read -r entry; do
        name=${entry%%:*}
        [ -f "$prompts/$name.wav" ] &&
          printf 'prompts\t%s\t\t%s\ten-us\n' "$prompts/$name.wav" "${entry#*: }"
      done >>"$list"
  else
    echo "(no prompts corpus: install asterisk-core-sounds-en-wav and asterisk-core-sounds-en)" >&2
  fi

  data=/usr/share/pocketsphinx/test/data
  if [ -d "$data" ]; then
    for set in librivox cards; do
      file=$data/$set/transcription
      [ -f "$file" ] || file=$data/$set/$set.transcription
      sed -E 's/<\/?s>//g; s/^ +//' "$file" | while IFS= read -r entry; do
        id=${entry##*(}; id=${id%)}
        printf 'clips\t%s\t\t%s\ten-us\n' "$data/$set/$id.wav" "${entry% (*}"
      done >>"$list"
    done
  else
    echo "(no clips corpus: install pocketsphinx-testdata)" >&2
  fi
fi

shift || true
"$build/bin/lipsync_score" "$list" "$@"
