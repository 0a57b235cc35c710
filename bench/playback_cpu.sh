#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# CPU use of `tarvik -play` over a 30-second playback on SDL's disk audio driver (which plays
# in real time). Measured twice: with standard input not a terminal (no key polling), and
# inside tmux, where the keyboard is polled every pass of the loop.
#   bench/playback_cpu.sh [build-dir]      (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
tarvik=$(realpath "$build/bin/tarvik")
seconds=${PLAYBACK_SECONDS:-30}
work=$(mktemp -d)
trap 'tmux -L tarvik-bench kill-server 2>/dev/null || true; rm -rf "$work"' EXIT

sox -n -r 44100 -c 2 -b 16 "$work/tone.wav" synth "$seconds" sine 440 sine 550 vol 0.5

report() { # label, /usr/bin/time output file
  read -r user sys elapsed < "$2"
  awk -v l="$1" -v u="$user" -v s="$sys" -v e="$elapsed" 'BEGIN {
    printf "%-28s user %6.2f s  system %6.2f s  elapsed %6.2f s  CPU %5.2f%% of one core\n",
           l, u, s, e, 100 * (u + s) / e }'
}

export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/out.raw"
/usr/bin/time -f "%U %S %e" -o "$work/pipe.time" "$tarvik" -play "$work/tone.wav" </dev/null >/dev/null 2>&1
report "stdin not a terminal:" "$work/pipe.time"

if command -v tmux >/dev/null; then
  tmux -L tarvik-bench -f /dev/null new-session -d -x 120 -y 30 \
    /usr/bin/time -f "%U %S %e" -o "$work/tty.time" "$tarvik" -play "$work/tone.wav"
  while [ ! -s "$work/tty.time" ]; do sleep 1; done
  report "in a terminal (tmux):" "$work/tty.time"
fi
