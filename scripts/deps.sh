#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian packages tarvik needs to build, package, test and demo (only what is
# missing). When another apt or dpkg run holds the package manager's locks, it waits for it,
# up to TARVIK_APT_LOCK_WAIT seconds (default 300), then names the process and fails.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config clang clang-format libclang-rt-14-dev ccache
  xdotool xterm
  libmp3lame-dev lame libebur128-dev libsoxr-dev libsndfile1-dev libutf8proc-dev libsqlite3-dev libsdl2-dev qt6-base-dev qt6-base-dev-tools
  libgtest-dev googletest
  sox libsox-fmt-all espeak-ng tmux xvfb xauth imagemagick time bc hyperfine
  # the Debian packages: their build, lintian, hardening-check (devscripts), the checks of
  # the installed files
  dpkg-dev debhelper devscripts lintian man-db desktop-file-utils libqt6svg6
  ffmpeg mpg123 mp3val
  # lipsync: phone recognition, its English model, phonemes of unknown words; recorded
  # speech with transcripts for its quality benchmark
  libpocketsphinx-dev pocketsphinx-en-us libespeak-ng-dev
  pocketsphinx-testdata asterisk-core-sounds-en-wav asterisk-core-sounds-en
  # tests: a case-folding FUSE file system standing in for case-insensitive output folders
  libfuse3-dev fuse3
)
locks=(/var/lib/dpkg/lock-frontend /var/lib/dpkg/lock /var/lib/apt/lists/lock
       /var/cache/apt/archives/lock)

# Prints "process PID (COMMAND) holds FILE" for each of the locks that a process holds: a
# lock on the file's inode in the kernel's table (/proc/locks: "N: KIND MODE ACCESS PID
# MAJ:MIN:INODE ...") taken by a process that has the file open.
lock_holders() {
  local lock inode pid
  for lock in "${locks[@]}"; do
    [ -e "$lock" ] || continue
    inode=$(stat -c %i "$lock")
    awk -v inode="$inode" '$2 != "->" { split($6, id, ":"); if (id[3] == inode) print $5 }' \
      /proc/locks | sort -u | while read -r pid; do
      [ -n "$(find "/proc/$pid/fd" -lname "$lock" 2>/dev/null)" ] &&
        echo "process $pid ($(cat "/proc/$pid/comm" 2>/dev/null)) holds $lock"
    done
  done
}

# Returns once no process holds the locks; fails, naming the holders, after the wait.
wait_for_package_manager() {
  local limit=${TARVIK_APT_LOCK_WAIT:-300} waited=0 holders
  while holders=$(lock_holders) && [ -n "$holders" ]; do
    if ((waited >= limit)); then
      printf 'Another package manager run still holds its locks after %s s:\n%s\n' \
        "$waited" "$holders" >&2
      exit 1
    fi
    ((waited > 0)) || printf 'Waiting up to %s s for another package manager run:\n%s\n' \
      "$limit" "$holders"
    sleep 1
    waited=$((waited + 1))
  done
}

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
  wait_for_package_manager
  # A run that starts between the wait and apt-get's own lock is waited for by apt-get.
  apt_wait=(-o "DPkg::Lock::Timeout=${TARVIK_APT_LOCK_WAIT:-300}")
  if ! { apt-get "${apt_wait[@]}" update -qq &&
         apt-get "${apt_wait[@]}" install -y -qq --no-install-recommends "${missing[@]}"; }; then
    holders=$(lock_holders)
    [ -z "$holders" ] || printf 'Another package manager run holds its locks:\n%s\n' "$holders" >&2
    exit 1
  fi
fi
