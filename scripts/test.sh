#!/usr/bin/env bash
# Runs every test of both build trees: installs what is missing, builds,
# starts a private X server, sound loopback and Wine prefix, runs CTest in
# build/native and build/win, and prints one closing line for both.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/setup.sh || exit 1
scripts/build.sh all || exit 1

source scripts/testenv.sh
tessary_env_start "test-$$"
trap 'tessary_env_stop' EXIT

mkdir -p build/artifacts
export TESSARY_ARTIFACTS=$root/build/artifacts

passed=0; failed=0; status=0
run_ctest() {
  local dir=$1 log
  shift
  log=$(mktemp)
  ctest --test-dir "$dir" --output-on-failure --timeout 1500 "$@" 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  local line
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1)
  if [ -n "$line" ]; then
    local total nfail
    total=$(echo "$line" | sed -E 's/.*out of ([0-9]+).*/\1/')
    nfail=$(echo "$line" | sed -E 's/.*tests passed, ([0-9]+) tests? failed.*/\1/')
    passed=$((passed + total - nfail)); failed=$((failed + nfail))
  fi
  [ "$rc" -ne 0 ] && status=1
  rm -f "$log"
}

run_ctest build/native -j "$(nproc)"
# The Windows tests play and record in real time through the loopback: one at
# a time, so a busy core cannot make the sound stutter; a test that fails is
# run once more before it counts (ctest still reports the first failure).
run_ctest build/win -j 1 --repeat until-pass:2

echo
echo "$passed passed, $failed failed"
exit $status
