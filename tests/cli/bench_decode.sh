#!/usr/bin/env bash
# Decode throughput of tessary-cli on a ten-minute transmission, timed as a
# whole command (file reading, detection, output).
# Usage: tests/cli/bench_decode.sh [PATH_TO_TESSARY_CLI] [RUNS]
set -euo pipefail
cli=${1:-build/native/cli/tessary-cli}
runs=${2:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# 1110 letters at 100 % speed: 2220 digits of 270 ms, just over ten minutes.
text=$(python3 -c "import random; random.seed(7); print(''.join(random.choice('abcdefghijklmnopqrstuvwxyz ') for _ in range(1110)))")
"$cli" encode text "$text" -o "$work/ten.wav"
seconds=$("$cli" analyze "$work/ten.wav" | sed -n 's/^length: \([0-9.]*\) s.*/\1/p')

bench() {
  local label=$1; shift
  local best=""
  for _ in $(seq "$runs"); do
    local t0 t1 el
    t0=$(date +%s.%N)
    "$cli" decode "$work/ten.wav" "$@" >"$work/out.txt"
    t1=$(date +%s.%N)
    el=$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')
    if [ -z "$best" ] || awk -v e="$el" -v b="$best" 'BEGIN { exit !(e < b) }'; then best=$el; fi
  done
  [ "$(cat "$work/out.txt")" = "$text" ] || { echo "$label: decoded text differs" >&2; exit 1; }
  awk -v l="$label" -v b="$best" -v s="$seconds" \
    'BEGIN { printf "%-22s %6.2f s for %.0f s of audio: %6.1f x real time\n", l, b, s, s / b }'
}

echo "tessary-cli decode, $(basename "$cli"), best of $runs:"
bench "hop 1024"
bench "hop 256" --hop 256
"$cli" encode text "$text" --repeater -o "$work/ten.wav"
bench "repeater, hop 1024" --repeater
