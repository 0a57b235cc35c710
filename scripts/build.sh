#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Configures and builds one configuration: scripts/build.sh [release|asan|tsan|fuzz]
set -euo pipefail
cd "$(dirname "$0")/.."
kind=${1:-release}
jobs=$(nproc)
# Repeated builds (each configuration, each checkout) reuse what was compiled before.
if command -v ccache >/dev/null; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
fi
case "$kind" in
  release) cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
           cmake --build build -j "$jobs" ;;
  asan)    cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVIK_SANITIZE=ON >/dev/null
           cmake --build build-asan -j "$jobs" ;;
  # Only what the threaded tests run (see scripts/test.sh).
  tsan)    cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVIK_TSAN=ON -DTARVIK_GUI=OFF >/dev/null
           cmake --build build-tsan -j "$jobs" --target tarvik lame_enc tarvik_audio lipsync \
             batch_test fault_test no_threads adapter_threads_test playback_run_test ;;
  fuzz)    CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVIK_FUZZ=ON -DTARVIK_GUI=OFF -DBUILD_TESTING=OFF >/dev/null
           cmake --build build-fuzz -j "$jobs" ;;
  *) echo "unknown build kind: $kind" >&2; exit 2 ;;
esac
