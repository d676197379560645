#!/usr/bin/env bash
# Starts the native tessary-cli serve, runs the Windows test that asks it
# from the Server page, and checks serve's own account of the exchange.
# Usage: serve_e2e.sh NATIVE_TESSARY_CLI EMULATOR TEST_EXE
set -u
cli=$1 emulator=$2 exe=$3
if [ ! -x "$cli" ]; then
  echo "skipped: no native tessary-cli at $cli (build the native tree first, or set TESSARY_NATIVE_CLI)"
  exit 77
fi
log=$(mktemp)
trap 'rm -f "$log"' EXIT
"$cli" serve --dir "0123=sed 's/^/you said /'" --exchanges 1 2>"$log" &
serve=$!
"$emulator" "$exe"
rc=$?
kill $serve 2>/dev/null
wait $serve
cat "$log"
grep -q 'dir 0123 "hi": answered; answer "you said hi"$' "$log" || { echo "FAILED: serve's log"; rc=1; }
exit $rc
