#!/usr/bin/env bash
# Configures and builds both trees: build/native (Linux: core, tests, fuzz,
# bench, CLI) and build/win (Windows: Tessary.exe, its tests, CLI).
# Usage: scripts/build.sh [native|win|all]   (default all)
set -euo pipefail
cd "$(dirname "$0")/.."
what=${1:-all}
jobs=$(nproc)

if [ "$what" = all ] || [ "$what" = native ]; then
  [ -f build/native/build.ninja ] || cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=Release
  cmake --build build/native -j "$jobs"
fi
if [ "$what" = all ] || [ "$what" = win ]; then
  [ -f build/win/build.ninja ] || cmake -S . -B build/win -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
  cmake --build build/win -j "$jobs"
fi
