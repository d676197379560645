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

passed=0; failed=0; status=0; retried=()
run_ctest() {
  local preset=$1 log
  shift
  log=$(mktemp)
  ctest --preset "$preset" "$@" 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  local line
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1)
  if [ -n "$line" ]; then
    local total nfail
    total=$(echo "$line" | sed -E 's/.*out of ([0-9]+).*/\1/')
    nfail=$(echo "$line" | sed -E 's/.*tests passed, ([0-9]+) tests? failed.*/\1/')
    passed=$((passed + total - nfail)); failed=$((failed + nfail))
  fi
  # A test that failed and then passed on its second try counts as passed;
  # the summary names it, so a flaky test does not go unseen.
  local name
  while read -r name; do
    grep -qE "Test +#[0-9]+: $name \.+ +Passed" "$log" && retried+=("$name")
  done < <(sed -nE 's/.*Test +#[0-9]+: ([^ ]+) \.+\*\*\*.*/\1/p' "$log" | sort -u)
  [ "$rc" -ne 0 ] && status=1
  rm -f "$log"
}

run_ctest native -j "$(nproc)"
run_ctest win

echo
[ ${#retried[@]} -gt 0 ] && echo "passed only on a second try: ${retried[*]}"
echo "$passed passed, $failed failed"
exit $status
