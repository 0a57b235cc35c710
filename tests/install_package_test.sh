#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package end to end: built from the build folder, checked by lintian, unpacked
# with dpkg-deb -x into a temporary folder, and its programs run from there (tarvik finds the
# encoder library in ../lib/tarvik and lipsync beside itself): -ver, a -batch -lips run on
# generated WAVs (the MP3s decode with the right rate, channels, bit rate and length, the VLPs
# read back), lipsync --help; the man pages render without warnings and the desktop entry
# validates. Usage: install_package_test.sh BUILD_DIR PARTIAL_LAME_ENC_SO
set -euo pipefail
build=$1 partial=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$tmp/pkg" >/dev/null
deb=$(echo "$tmp"/pkg/tarvik_*_amd64.deb)
lintian --fail-on error "$deb" || fail "lintian reports errors"
# lipsync loads these by name, so no library scan finds them.
depends=$(dpkg-deb --field "$deb" Depends)
[[ $depends == *libpocketsphinx3* && $depends == *libespeak-ng1* ]] || fail "Depends: $depends"
dpkg-deb -x "$deb" "$tmp/root"
bin=$tmp/root/usr/bin
[ -f "$tmp/root/usr/lib/tarvik/lame_enc.so" ] || fail "lame_enc.so not in usr/lib/tarvik"
if [ -z "${TARVIK_SANITIZER_BUILD:-}" ] && grep -rlF "$build" "$tmp/root"; then
  fail "the build folder's path is baked into the files above"
fi

# Whole outputs first: grep -q stops reading early, and a writer cut off is not a failure here.
grep -q "^---- LAME Ain't an MP3 Encoder ----" <<<"$("$bin/tarvik" -ver)" || fail "tarvik -ver"
grep -q "^Usage:" <<<"$("$bin/lipsync" --help)" || fail "lipsync --help"

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

for page in "$tmp"/root/usr/share/man/man1/*.1.gz; do
  warnings=$(MANWIDTH=80 man -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man -l $(basename "$page"): $warnings"
done
for entry in "$tmp"/root/usr/share/applications/*.desktop; do
  desktop-file-validate "$entry" || fail "$(basename "$entry") does not validate"
done
echo "package $(basename "$deb"): installed tree runs"
