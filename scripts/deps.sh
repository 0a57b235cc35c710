#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian packages tarvik needs to build, test and demo (only what is missing).
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config clang clang-format libclang-rt-14-dev ccache
  xdotool xterm
  libmp3lame-dev lame libsndfile1-dev libutf8proc-dev libsqlite3-dev libsdl2-dev qt6-base-dev qt6-base-dev-tools
  libgtest-dev googletest
  sox libsox-fmt-all espeak-ng tmux xvfb xauth imagemagick time bc hyperfine
  dpkg-dev lintian man-db desktop-file-utils libqt6svg6
  ffmpeg mpg123 mp3val
  # lipsync: phone recognition, its English model, phonemes of unknown words; recorded
  # speech with transcripts for its quality benchmark
  libpocketsphinx-dev pocketsphinx-en-us libespeak-ng-dev
  pocketsphinx-testdata asterisk-core-sounds-en-wav asterisk-core-sounds-en
  # tests: a case-folding FUSE file system standing in for case-insensitive output folders
  libfuse3-dev fuse3
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages and not root: run as root or install them: ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
