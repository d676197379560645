#!/usr/bin/env bash
# listen hears what play sends through the sound loopback of
# scripts/testenv.sh, and Ctrl-C ends it cleanly; without a sound server,
# one clear line. Usage: listen_hears_play.sh TESSARY_CLI [EMULATOR]
set -u
run=(${2:+"$2"} "$1")
if ! pactl info >/dev/null 2>&1; then
  echo "skipped: no sound server (run inside scripts/testenv.sh's environment)"
  exit 77
fi
out=$(mktemp)
trap 'rm -f "$out" "$out.err"' EXIT
fail() { echo "FAILED: $*"; exit 1; }

# Under Wine a Ctrl-C does not reach the program as one: it stops by count.
if [ -n "${2:-}" ]; then stop=(--digits 22); else stop=(); fi
"${run[@]}" listen --as digits --for 30 "${stop[@]}" >"$out" 2>"$out.err" &
listener=$!
for _ in $(seq 300); do grep -q listening "$out.err" && break; sleep 0.1; done
# A record stream on the loopback may be handed a piece of its first
# seconds twice; let them pass before the first tone.
sleep 2
"${run[@]}" play text "Hello World" || fail "play: status $?"
[ -z "${2:-}" ] && kill -INT $listener
wait $listener || fail "listen: status $?"
[ "$(cat "$out")" = 1105151521003221241504 ] || fail "listen heard '$(cat "$out")'"

msg=$(PULSE_SERVER=unix:/nonexistent/native "${run[@]}" listen 2>&1)
[ $? -eq 1 ] || fail "listen without a sound server: wrong status"
case $msg in
  "tessary-cli: listen: cannot open the recording device: "*) ;;
  *) [ -n "${2:-}" ] || fail "listen without a sound server said '$msg'" ;;
esac
echo "ok"
