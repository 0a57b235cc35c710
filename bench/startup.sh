#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Start-up cost of tarvik, whole-process times by hyperfine:
#  1. `tarvik -h` against a C program that only links libsndfile (prints its version): the
#     differences of the means, medians and minima (bar: within 3 ms). On a shared machine
#     the mean carries other processes' load; the median and minimum show the program's own.
#  2. `tarvik -wav` on a 2-second voice line against LAME's lame program on the same file at
#     the same settings (64 kbps mono), ratio printed.
# Also lists the libraries the program links (SDL2 must not be among them).
# Usage: bench/startup.sh [build-dir] [runs]   (default: build 200; build first)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-200}
tarvik=$(realpath "$build/bin/tarvik")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat > "$work/sndfile_only.c" <<'EOF'
#include <sndfile.h>
#include <stdio.h>
int main(void) {
    char version[128];
    sf_command(NULL, SFC_GET_LIB_VERSION, version, sizeof version);
    puts(version);
    return 0;
}
EOF
# shellcheck disable=SC2046 # pkg-config's flags are separate words
cc -O2 "$work/sndfile_only.c" -o "$work/sndfile_only" $(pkg-config --cflags --libs sndfile)
bench/make_voice_lines.sh "$work/voice" 1 # line000.wav: 2 s of espeak-ng speech, 22050 Hz mono
voice=$work/voice/line000.wav
mkdir -p "$work/out"

echo "libraries tarvik links: $(readelf -d "$tarvik" | sed -n 's/.*Shared library: \[\(.*\)\]/\1/p' | tr '\n' ' ')"

# Mean, median and minimum in ms of each command of a hyperfine CSV export, one line each.
times() { awk -F, 'NR > 1 { printf "%.3f %.3f %.3f\n", $2 * 1000, $4 * 1000, $7 * 1000 }' "$1"; }

hyperfine -N --warmup 20 --runs "$runs" --export-csv "$work/help.csv" \
  "$work/sndfile_only" "$tarvik -h" >/dev/null
{ read -r c_mean c_median c_min; read -r t_mean t_median t_min; } < <(times "$work/help.csv")
awk -v cm="$c_mean" -v cd="$c_median" -v cn="$c_min" -v tm="$t_mean" -v td="$t_median" -v tn="$t_min" 'BEGIN {
  printf "tarvik -h:   mean %.2f ms, median %.2f, min %.2f\n", tm, td, tn
  printf "C program:   mean %.2f ms, median %.2f, min %.2f (links only libsndfile)\n", cm, cd, cn
  printf "difference:  mean %.2f ms, median %.2f, min %.2f (bar: <= 3 ms)\n", tm - cm, td - cd, tn - cn }'

hyperfine -N --warmup 5 --runs "$((runs / 4))" --export-csv "$work/wav.csv" \
  "$tarvik -wav -numbar $voice $work/out" "lame --quiet -b 64 -m m $voice $work/lame.mp3" >/dev/null
{ read -r w_mean w_median w_min; read -r l_mean l_median l_min; } < <(times "$work/wav.csv")
awk -v wm="$w_mean" -v wd="$w_median" -v lm="$l_mean" -v ld="$l_median" 'BEGIN {
  printf "tarvik -wav: mean %.2f ms, median %.2f; lame: mean %.2f ms, median %.2f (2-second line)\n", wm, wd, lm, ld
  printf "ratio tarvik / lame: mean %.3f, median %.3f\n", wm / lm, wd / ld }'
