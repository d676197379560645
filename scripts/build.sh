#!/usr/bin/env bash
# Configures and builds both trees through the CMake presets: build/native
# (Linux: core, tests, fuzz, bench, CLI) and build/win (Windows: Tessary.exe,
# its tests, CLI).
# Usage: scripts/build.sh [native|win|all]   (default all)
set -euo pipefail
cd "$(dirname "$0")/.."
what=${1:-all}

for tree in native win; do
  [ "$what" = all ] || [ "$what" = "$tree" ] || continue
  [ -f "build/$tree/build.ninja" ] || cmake --preset "$tree"
  cmake --build --preset "$tree" -j "$(nproc)"
done
