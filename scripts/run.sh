#!/usr/bin/env bash
# Builds Tessary and starts it: on Linux under Wine, on the current display.
# Without a display it starts on a private X server and saves a screenshot.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
scripts/build.sh all

exe=build/win/Tessary.exe
if [ ! -f "$exe" ]; then
  echo "run: everything is built; the window program does not exist yet ($exe)."
  exit 0
fi

if [ -n "${DISPLAY:-}" ]; then
  exec scripts/wine-run "$exe"
fi

echo "run: no DISPLAY; starting Tessary on a private X server for 20 s."
source scripts/testenv.sh
tessary_env_start run
trap tessary_env_stop EXIT
scripts/wine-run "$exe" &
sleep 20
mkdir -p build/artifacts
import -display "$DISPLAY" -window root build/artifacts/run-screenshot.png
echo "run: screenshot saved to build/artifacts/run-screenshot.png"
