#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Seeds the command-line target's corpus with typical command lines from the help text,
# one file per command line, each argument ended by a NUL byte.
# Usage: command_line_fuzz.sh <corpus-dir>
set -euo pipefail
corpus=${1:?corpus directory}
mkdir -p "$corpus"
n=0
seed() {
  n=$((n + 1))
  printf '%s\0' "$@" > "$corpus/seed-$(printf %02d $n)"
}
seed 5
seed 5 out
seed -wav voice
seed -wav -lips -rem -noclick voice.wav ./mp3
seed -batch -lips -rem -vbr 4 -brate 128 -noclick /data/voices /data/mp3
seed -batch -jobs 0 in out
seed -play Voice.WAV
seed -bitrate 128 -play voice.wav
seed -play -x
seed -SRATE 22050 -BitRate 192 5
seed -bitrate 192 -srate 22050 5
seed -samplerate 8000 -mode dual -bitrate 8 10
seed -srate -mode stereo 5
seed -mode jstereo -numbar -vlp 3 'out dir'
seed -vbr 10 5
seed -vbr x 5
seed -vbr -1 5
seed -rem -wav a
seed -wav -batch a
seed -batch -wav a
seed 5 out extra
seed -h
seed -?
seed -help
seed -ver
seed -brate 65600 5
seed -jobs 65 -batch a
seed -wav a 'out"'
: > "$corpus/seed-empty"
