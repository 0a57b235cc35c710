#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian packages end to end. scripts/package.sh builds them in BUILD_DIR/package-test
# (lintian and hardening-check pass; the compiler cache serves reruns there), then again at
# another path with nothing from the cache: every .deb, -dbgsym too, has the same bytes, and
# none holds a build path. A changelog at another version than CMake's stops the build. The
# tarvik package alone, unpacked into a temporary root, runs: -ver, a -batch -lips run on
# generated WAVs (the MP3s decode with the right rate, channels, bit rate and length; the
# VLPs read back); its man pages render; every version shown is CMake's. tarvik-gui depends
# on that very tarvik, and its desktop entry validates. Last, scripts/deps.sh names a
# process that holds dpkg's lock.
# Usage: package_test.sh SOURCE_DIR BUILD_DIR PARTIAL_LAME_ENC_SO
set -euo pipefail
src=$1 first=$2/package-test partial=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp" "$first"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
version=$(sed -n 's/^project(tarvik VERSION \([^ )]*\).*/\1/p' "$src/CMakeLists.txt")
second=$tmp/second-build-elsewhere

"$src/scripts/package.sh" "$first" || fail "scripts/package.sh"
sed -i "1s/($version)/($version.1)/" "$first/tarvik/debian/changelog"
if (cd "$first/tarvik" && dpkg-buildpackage -b -us -uc >"$tmp/mismatch.log" 2>&1) ||
  ! grep -q "add a changelog entry for $version" "$tmp/mismatch.log"; then
  cat "$tmp/mismatch.log"
  fail "a changelog at version $version.1 did not stop the build"
fi
CCACHE_DISABLE=1 "$src/scripts/package.sh" "$second" >/dev/null || fail "second build"
for deb in "$first"/*.deb; do
  cmp "$deb" "$second/${deb##*/}" || fail "${deb##*/} differs between two builds"
  dpkg-deb -x "$deb" "$tmp/all"
done
if grep -rlF -e "$first" -e "$second" "$tmp/all"; then fail "build paths in the files above"; fi

arch=$(dpkg --print-architecture)
pkg=$first/tarvik_${version}_$arch.deb gui=$first/tarvik-gui_${version}_$arch.deb
[ "$(dpkg-deb -f "$pkg" Version)" = "$version" ] || fail "package version"
# lipsync loads these by name, so no library scan finds them; Qt is tarvik-gui's alone.
relations=$(dpkg-deb -f "$pkg" Depends Recommends)
[[ $relations == *libpocketsphinx3* && $relations == *libespeak-ng1* && ${relations,,} != *qt* ]] ||
  fail "tarvik: $relations"
[[ $(dpkg-deb -f "$gui" Depends) == *"tarvik (= $version)"* ]] || fail "tarvik-gui's Depends"
dpkg-deb -x "$pkg" "$tmp/root"
bin=$tmp/root/usr/bin

# Whole outputs first: grep -q stops reading early, and a writer cut off is not a failure here.
ver=$("$bin/tarvik" -ver)
[[ $ver == "tarvik $version - "* && $ver == *"---- LAME Ain't an MP3 Encoder ----"* ]] ||
  fail "tarvik -ver: $ver"
[[ $("$bin/lipsync" --version) == "lipsync $version "* ]] || fail "lipsync --version"
mkdir "$tmp/voices"
sox -n -r 22050 -c 1 -b 16 "$tmp/voices/line1.wav" synth 1.5 sine 300 vol 0.5
sox -n -r 44100 -c 2 -b 16 "$tmp/voices/Line2.WAV" synth 1.0 sine 440 vol 0.5
status=0
(cd "$tmp" && "$bin/tarvik" -batch -lips voices mp3 >batch.txt 2>&1) || status=$?
[ $status = 0 ] || { cat "$tmp/batch.txt"; fail "batch exit status $status"; }
grep -q "| 2/2 VLP files generated" "$tmp/batch.txt" || fail "batch summary"
for want in "line1 22050 1 64.0k 1.5" "Line2 44100 2 128k 1.0"; do
  read -r name rate channels kbps seconds <<<"$want"
  mp3=$tmp/mp3/$name.mp3
  sox "$mp3" -n 2>/dev/null || fail "$name.mp3 does not decode"
  got="$(soxi -r "$mp3") $(soxi -c "$mp3") $(soxi -B "$mp3")"
  [ "$got" = "$rate $channels $kbps" ] || fail "$name.mp3: $got, expected $rate $channels $kbps"
  awk -v d="$(soxi -D "$mp3")" -v s="$seconds" 'BEGIN { exit !(d > s - 0.01 && d < s + 0.1) }' ||
    fail "$name.mp3 lasts $(soxi -D "$mp3") s, expected $seconds"
  "$bin/lipsync" --dump "$tmp/mp3/$name.vlp" >/dev/null || fail "$name.vlp does not read back"
done

# A library beside the program wins over ../lib/tarvik: one without beWriteVBRHeader there
# must stop tarvik with the start-up error.
cp "$partial" "$bin/lame_enc.so"
status=0
"$bin/tarvik" -ver >/dev/null 2>&1 || status=$?
[ $status = 255 ] || fail "tarvik did not load lame_enc.so from its own folder first ($status)"

dpkg-deb -x "$gui" "$tmp/gui"
for page in "$tmp"/{root,gui}/usr/share/man/man1/*.1.gz; do
  [[ $(zcat "$page" | head -n 1) == *"\"tarvik $version\""* ]] || fail "${page##*/}'s header"
  warnings=$(MANWIDTH=80 man -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man -l ${page##*/}: $warnings"
done
desktop-file-validate "$tmp"/gui/usr/share/applications/tarvik-gui.desktop || fail "desktop entry"

# dpkg's lock, held (by flock, for its sleep) while a package is to be installed: deps.sh
# waits, then names the holder and fails.
if [ "$(id -u)" = 0 ]; then
  sed 's/^packages=(/packages=(tarvik-test-absent /' "$src/scripts/deps.sh" >"$tmp/deps.sh"
  flock --no-fork /var/lib/dpkg/lock-frontend sleep 60 &
  holder=$!
  status=0
  TARVIK_APT_LOCK_WAIT=1 bash "$tmp/deps.sh" >"$tmp/deps.txt" 2>&1 || status=$?
  kill "$holder"
  holds="process $holder (sleep) holds /var/lib/dpkg/lock-frontend"
  [[ $status != 0 && $(<"$tmp/deps.txt") == *"Waiting up to 1 s"*"after 1 s:"$'\n'"$holds" ]] ||
    { cat "$tmp/deps.txt"; fail "deps.sh did not name the lock's holder"; }
fi
echo "packages $version: reproducible, lintian clean, the unpacked tarvik runs"
