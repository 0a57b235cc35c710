#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the release configuration and its Debian package, build/tarvik_<version>_amd64.deb,
# then checks the package with lintian (errors fail the script; warnings are shown).
# Install it with: apt install ./build/tarvik_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh release
(cd build && cpack -G DEB >/dev/null)
deb=$(ls -t build/tarvik_*_amd64.deb | head -n 1)
echo "== $deb"
dpkg-deb --field "$deb" Package Version Depends
lintian --fail-on error "$deb"
