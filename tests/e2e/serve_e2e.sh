#!/usr/bin/env bash
# Starts the native tessary-cli serve, runs the Windows test that asks it
# from the Server page, and checks serve's own account of the exchange.
# Where hamlib's rigctld is installed, serve keys its dummy rig and the rig
# must be released at the end. Usage: serve_e2e.sh NATIVE_TESSARY_CLI EMULATOR TEST_EXE
set -u
cli=$1 emulator=$2 exe=$3
if [ ! -x "$cli" ]; then
  echo "skipped: no native tessary-cli at $cli (build the native tree first, or set TESSARY_NATIVE_CLI)"
  exit 77
fi
log=$(mktemp)
rig=
trap 'rm -f "$log"; [ -n "$rig" ] && kill $rig 2>/dev/null' EXIT
ptt=()
if command -v rigctld >/dev/null; then
  port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  rigctld -m 1 -P RIG -t "$port" >/dev/null 2>&1 &
  rig=$!
  for _ in $(seq 50); do (exec 3<>/dev/tcp/127.0.0.1/$port) 2>/dev/null && break; sleep 0.1; done
  ptt=(--ptt "rigctld::$port" --txdelay 100 --txtail 100)
fi
"$cli" serve --dir "0123=sed 's/^/you said /'" --exchanges 1 "${ptt[@]}" 2>"$log" &
serve=$!
"$emulator" "$exe"
rc=$?
kill $serve 2>/dev/null
wait $serve
cat "$log"
grep -q 'dir 0123 "hi": answered; answer "you said hi"$' "$log" || { echo "FAILED: serve's log"; rc=1; }
if [ -n "$rig" ]; then
  grep -q 'answer sent;' "$log" || { echo "FAILED: the answer was not sent keyed"; rc=1; }
  state=$(exec 3<>/dev/tcp/127.0.0.1/$port; echo t >&3; head -n1 <&3)
  [ "$state" = 0 ] || { echo "FAILED: the rig is still keyed ($state)"; rc=1; }
fi
exit $rc
