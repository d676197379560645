#!/usr/bin/env bash
# Builds Tessary and starts it: on Linux under Wine, on the current display.
# Without a display it starts the program on a private X server (with its own
# sound loopback), waits for the window, saves a screenshot and closes it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
scripts/build.sh all

exe=build/win/Tessary.exe
if [ ! -f "$exe" ]; then
  echo "run: everything is built; the window program does not exist yet ($exe)."
  exit 0
fi

source scripts/testenv.sh
if [ -n "${DISPLAY:-}" ]; then
  tessary_wine_fonts
  exec scripts/wine-run "$exe"
fi

echo "run: no DISPLAY; starting Tessary on a private X server."
tessary_env_start run
scripts/wine-run "$exe" &
pid=$!
trap 'kill $pid 2>/dev/null || true; wait $pid 2>/dev/null || true; tessary_env_stop' EXIT

shown=0
for _ in $(seq 600); do
  if xwininfo -root -tree 2>/dev/null | grep -q '"Tessary -- 0-6 Line"'; then shown=1; break; fi
  kill -0 $pid 2>/dev/null || break
  sleep 0.1
done
if [ "$shown" != 1 ]; then
  echo "run: the Tessary window did not appear." >&2
  exit 1
fi
sleep 2 # let every page paint
mkdir -p build/artifacts
import -display "$DISPLAY" -window root build/artifacts/run-screenshot.png
echo "run: Tessary started; screenshot saved to build/artifacts/run-screenshot.png"
