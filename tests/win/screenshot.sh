#!/usr/bin/env bash
# Starts Tessary.exe under Wine on $DISPLAY, waits for its window, saves a
# screenshot of the screen to $TESSARY_ARTIFACTS/tessary-window.png and closes
# the program. Fails when the window never appears.
set -uo pipefail
exe=$1
root=$(cd "$(dirname "$0")/../.." && pwd)
out_dir=${TESSARY_ARTIFACTS:-$(dirname "$exe")/artifacts}
mkdir -p "$out_dir"
[ -n "${DISPLAY:-}" ] || { echo "screenshot: no DISPLAY"; exit 1; }

"$root/scripts/wine-run" "$exe" &
pid=$!
trap 'kill $pid 2>/dev/null; wait $pid 2>/dev/null' EXIT

for _ in $(seq 300); do
  if xwininfo -root -tree 2>/dev/null | grep -q '"Tessary -- 0-6 Line"'; then found=1; break; fi
  if ! kill -0 $pid 2>/dev/null; then
    wait $pid
    echo "screenshot: Tessary.exe ended early (exit status $?)"
    exit 1
  fi
  sleep 0.1
done
[ "${found:-0}" = 1 ] || { echo "screenshot: no window titled 'Tessary -- 0-6 Line'"; exit 1; }
sleep 1.5 # let the pages paint
import -window root "$out_dir/tessary-window.png" || exit 1
echo "screenshot: $out_dir/tessary-window.png"
