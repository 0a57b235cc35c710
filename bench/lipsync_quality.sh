#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Lip-sync quality: share of 10 ms frames with the right mouth shape, per corpus, for the
# default analysis (phone recognition), --fast, --text and the trivial "B whenever loud",
# with rest/speech agreement and speed (one thread's CPU time). Corpora, all built here:
#   synthetic  eSpeak NG lines in 10 voices at 22050 and 44100 Hz; truth: eSpeak's own
#              phoneme events (bench/lipsync_corpus.c)
#   prompts    recorded telephone prompts at 8 kHz (asterisk-core-sounds-en-wav) with their
#              transcripts; truth: forced alignment of the transcript
#   clips      recorded 16 kHz clips (pocketsphinx-testdata) with their transcripts; truth:
#              forced alignment
# Bars: default >= 0.65 on every corpus, --text >= 0.75, rest/speech >= 0.95.
# Usage: bench/lipsync_quality.sh [build dir] [--confusion [N]]   (LIPSYNC_BENCH_KEEP=1 keeps
# the corpus; LIPSYNC_BENCH_BY_VOICE=1 scores each synthetic voice on its own)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cmake --build "$build" --target lipsync_corpus lipsync_score >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
[ -n "${LIPSYNC_BENCH_KEEP:-}" ] && trap - EXIT && echo "corpus in $work" >&2
list=$work/list.tsv

mapfile -t lines < bench/lipsync_lines.txt # ten voice lines
voices=(en-us en en-gb-scotland en-gb-x-rp en-029 en-us-nyc en-gb-x-gbclan en-gb-x-gbcwmd
        en-us+f2 en+f4)
for v in "${!voices[@]}"; do
  for n in 0 1 2; do
    i=$(( (v * 3 + n) % ${#lines[@]} ))
    base=$work/syn-$v-$n
    "$build/bin/lipsync_corpus" "${voices[$v]}" "${lines[$i]}" "$base"
    if (( n == 1 )); then   # a third of the lines at 44.1 kHz (undithered: the same corpus every run)
      sox -D "$base.wav" -r 44100 "$base-44k.wav" && mv "$base-44k.wav" "$base.wav"
    fi
    corpus=synthetic
    [ -n "${LIPSYNC_BENCH_BY_VOICE:-}" ] && corpus="synthetic ${voices[$v]}"
    printf '%s\t%s\t%s\t%s\n' "$corpus" "$base.wav" "$base.phn" "${lines[$i]}" >>"$list"
  done
done

prompts=/usr/share/asterisk/sounds/en_US_f_Allison
transcripts=/usr/share/doc/asterisk-core-sounds-en/core-sounds-en.txt.gz
if [ -d "$prompts" ] && [ -f "$transcripts" ]; then
  # Prompts whose transcript is plain words, 20 of them spread over the list.
  zcat "$transcripts" | grep -E '^[a-z0-9-]+: [A-Za-z ,.?'"'"']+$' |
    awk 'NR % 12 == 1' | head -20 | while IFS= read -r entry; do
      name=${entry%%:*}
      [ -f "$prompts/$name.wav" ] && printf 'prompts\t%s\t\t%s\n' "$prompts/$name.wav" "${entry#*: }"
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
      printf 'clips\t%s\t\t%s\n' "$data/$set/$id.wav" "${entry% (*}"
    done >>"$list"
  done
else
  echo "(no clips corpus: install pocketsphinx-testdata)" >&2
fi

shift || true
"$build/bin/lipsync_score" "$list" "$@"
