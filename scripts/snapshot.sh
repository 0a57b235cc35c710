#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Records what a fixed set of runs produces, so that a change meant to keep behaviour can be
# checked against a build from before it:
#   scripts/snapshot.sh <bin-dir> <out-dir>      (then: diff -r <out-a> <out-b>)
# For each run: its standard output and error (the run's folder shown as $W), its exit
# status, and a SHA-256 of every file it left. The corpus is generated here: several rates,
# channel counts and sample formats, and spoken lines for lip-sync.
set -uo pipefail
bin=$(realpath "$1")
out=$(realpath -m "$2")
rm -rf "$out" && mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TZ=UTC LC_ALL=C.UTF-8
unset TARVIK_BOX_WAIT TARVIK_BOX_PROGRAM

corpus=$work/corpus
mkdir -p "$corpus"
tone() { sox -R -n -r "$1" -c "$2" -e "$3" -b "$4" "$corpus/$5" synth "$6" sine "$7" vol 0.5 fade 0.01 -0 0.01 2>/dev/null; }
tone 44100 1 signed 16 mono-44k.wav 2.0 440
tone 48000 2 signed 24 stereo-48k-24.wav 1.5 330
tone 22050 1 floating-point 32 mono-22k-float.wav 1.2 550
tone 8000 1 signed 16 mono-8k.wav 3.0 300
tone 96000 2 signed 16 stereo-96k.wav 1.0 660
tone 11025 2 unsigned 8 stereo-11k-u8.wav 2.5 220
tone 32000 4 signed 16 quad-32k.wav 1.0 440
sox -R -n -r 16000 -c 1 -b 16 "$corpus/noise-16k.wav" synth 1.3 pinknoise vol 0.3 2>/dev/null
espeak-ng -w "$corpus/spoken-a.wav" "Hold the gate until the rider comes back." 2>/dev/null
espeak-ng -v de -w "$corpus/spoken-b.wav" "Wir sehen uns morgen am Brunnen." 2>/dev/null
echo "Hold the gate until the rider comes back." >"$corpus/spoken-a.txt"
yes tarvik | head -c 500 >"$corpus/tiny.wav"
printf 'RIFF\x24\x00\x00\x00WAVEfmt ' >"$corpus/broken.wav"

n=0
# run <name> <tarvik args...>: in a fresh copy of the corpus at $W.
run() {
    local name=$1
    shift
    n=$((n + 1))
    local W=$work/run
    rm -rf "$W" && cp -r "$corpus" "$W"
    local dir=$out/$(printf '%02d' $n)-$name
    mkdir -p "$dir"
    (cd "$W" && "$@" >"$dir/stdout" 2>"$dir/stderr" </dev/null)
    echo $? >"$dir/status"
    sed -i "s#$W#\$W#g; s#$work#\$WORK#g; s#$bin#\$BIN#g; s#^Elapsed time: .*#Elapsed time: (varies)#; s#/[0-9]\{8\}\.wav"#/NNNNNNNN.wav"#" "$dir/stdout" "$dir/stderr"
    # The report's first line carries the time of the run.
    find "$W" -name 'failed conversions.txt' -exec sed -i '1s/generated on .* by/generated on (date) by/' {} +
    (cd "$W" && find . -type f -print0 | xargs -0 -r sha256sum | sort -k2) >"$dir/files"
    (cd "$W" && find . | sort) >"$dir/listing"
}
T=$bin/tarvik
L=$bin/lipsync
run batch-cbr "$T" -batch . out
run batch-vbr "$T" -vbr 5 -batch . out
run batch-noclick "$T" -batch -noclick -bitrate 128 . out
run batch-lips-rem "$T" -batch -lips -rem . out
run batch-jobs "$T" -batch -jobs 2 -numbar -lips . out
run batch-in-place "$T" -batch .
run wav "$T" -wav mono-44k.wav
run wav-vbr "$T" -wav -vbr 2 -bitrate 32 stereo-96k out
run wav-noclick-rem "$T" -wav -noclick -rem stereo-48k-24.wav out
run wav-lips "$T" -wav -lips spoken-a.wav out
run wav-tiny "$T" -wav tiny.wav
run wav-broken "$T" -wav broken.wav
run wav-missing "$T" -wav nothing.wav
run silence "$T" 3
run silence-stereo "$T" -samplerate 22050 -mode stereo -bitrate 96 2 out
run silence-lips "$T" -lips 1 out
run silence-zero "$T" 0
run help "$T" -h
run no-args "$T"
run bad-switch "$T" -frobnicate 3
run bad-bitrate "$T" -bitrate 321 -samplerate 7 1
run lipsync-text "$L" spoken-a.wav -o a.vlp --text spoken-a.txt
run lipsync-fast "$L" --fast spoken-b.wav -o b.vlp
run lipsync-help "$L" --help
run lipsync-bad "$L" --nonsense
echo "$n runs recorded in $out"
