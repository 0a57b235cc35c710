#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian packages from debian/: tarvik, tarvik-gui and their -dbgsym packages,
# with dpkg-buildpackage from a copy of the checkout (its files, committed or not, less what
# git ignores) in OUT_DIR/tarvik, so that the packages land in OUT_DIR (default
# build/packages). Then checks them: lintian (any error or warning fails; its pedantic and
# informational tags are shown) and hardening-check on the programs and private libraries.
# Install with: apt install ./build/packages/tarvik_*.deb ./build/packages/tarvik-gui_*.deb
# Usage: scripts/package.sh [OUT_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-build/packages}")
scripts/deps.sh
rm -rf "$out/tarvik" "$out"/tarvik*_* "$out/build.log"
mkdir -p "$out/tarvik"
git ls-files -z --cached --others --exclude-standard |
  tar -c --null -T - --ignore-failed-read | tar -x -C "$out/tarvik"

# Repeated builds in the same folder reuse what was compiled before (CCACHE_DISABLE=1
# compiles everything again). The cache is named here because debhelper gives the build a
# home folder of its own. No CCACHE_BASEDIR: it would hand the compiler relative source
# paths, which the debug information keeps, so cached builds would differ from others.
if command -v ccache >/dev/null; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
  CCACHE_DIR=$(ccache --get-config cache_dir)
  export CCACHE_DIR
  unset CCACHE_BASEDIR
fi
echo "== dpkg-buildpackage in $out/tarvik (log: $out/build.log)"
(cd "$out/tarvik" && dpkg-buildpackage -b -us -uc -Jauto) >"$out/build.log" 2>&1 ||
  { tail -n 30 "$out/build.log"; exit 1; }
(cd "$out" && ls -1 ./*.deb)

echo "== lintian"
lintian --fail-on error,warning --pedantic --display-info "$out"/tarvik_*.changes
echo "== hardening-check"
# Control-flow protection is not among Debian 12's hardening flags (its C library's start
# files are built without it). The private libraries' few calls that have checked variants
# write into buffers whose size the compiler cannot see or proves large enough, so it keeps
# the plain functions there.
root=$out/tarvik/debian
hardening-check --quiet --nocfprotection "$root"/tarvik{,-gui}/usr/bin/*
hardening-check --quiet --nocfprotection --nofortify "$root"/tarvik/usr/lib/tarvik/*.so
echo "packages in $out: lintian and hardening-check pass"
