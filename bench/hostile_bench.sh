#!/usr/bin/env bash
# tessary-cli under hostile and careless input: peak memory (KB), wall time
# and the last line it said, for each command, one binary or two (before
# and after). Endless inputs are cut by `timeout` (status 124); the address
# space is capped at 8 GB so a runaway command fails instead of the machine.
# Prints figures; passes or fails nothing.
# Usage: bench/hostile_bench.sh [TESSARY_CLI ...]
set -uo pipefail
[ $# -gt 0 ] || set -- build/native/cli/tessary-cli
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (Debian: time)" >&2; exit 1; }
clis=()
for c in "$@"; do clis+=("$(realpath "$c")"); done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# The inputs: a text, a request, a 3 GB sparse file (a short recording
# grown with truncate), the request as a recorder's pipe leaves it (sizes
# untold), an 8-bit header of untold size, forty requests, 10 MB of text.
t=${clis[0]}
"$t" encode text "hello world" -o hello.wav
"$t" encode request --dir 1111 hi -o r.wav
cp hello.wav sparse.wav && truncate -s 3G sparse.wav
python3 - <<'PY'
import struct, wave
d = open('r.wav', 'rb').read()
i = d.index(b'data')
open('r_stream.wav', 'wb').write(d[:4] + b'\xff' * 4 + d[8:i] + b'data' + b'\xff' * 4 + d[i + 8:])
fmt = struct.pack('<HHIIHH', 1, 1, 44100, 44100, 1, 8)
open('h8.bin', 'wb').write(b'RIFF' + b'\xff' * 4 + b'WAVEfmt ' + struct.pack('<I', 16) + fmt
                           + b'data' + b'\xff' * 4)
w = wave.open('r.wav')
a = w.readframes(w.getnframes())
v = wave.open('many.wav', 'wb')
v.setnchannels(1); v.setsampwidth(2); v.setframerate(44100)
v.writeframes((a + b'\0' * 44100 * 2 * 3) * 30)
v.close()
PY
yes 'hello world ' | head -c 10M >text10m.txt

ulimit -v 8000000
run() { # SECONDS DESCRIPTION SHELL-TEXT ($T: the binary, cut at SECONDS)
    local to=$1 desc=$2 line=$3 c
    for c in "${clis[@]}"; do
        local cmd=${line//\$T/timeout $to $c}
        /usr/bin/time -o .t -f '%M KB %e s' bash -c "$cmd" >/dev/null 2>.e
        printf '%-52s rc=%-3s %-20s | %s\n' "$desc" "$?" "$(tail -1 .t)" \
            "$(grep -v 'Command exited' .e | tail -1 | cut -c1-90)"
        desc=""
    done
}
run 10 "encode text - < /dev/zero" '$T encode text - -o z.wav </dev/zero'
run 10 "encode image - < /dev/zero" '$T encode image - -o z.wav </dev/zero'
run 10 "encode request --dir 1234 - < /dev/zero" '$T encode request --dir 1234 - -o z.wav </dev/zero'
run 30 "encode text - < 10 MB of text" '$T encode text - -o z.wav <text10m.txt'
run 20 "serve --in - < 8-bit zeros of untold size" 'cat h8.bin /dev/zero | $T serve --dir 1111=cat --in - --out o.wav'
run 40 "serve --in - from a live pipe, --exchanges 1" "\$T serve --dir '1111=echo ok' --in - --out o.wav --exchanges 1 < <(cat r_stream.wav; sleep 30)"
run 40 "serve: 30 answers of 200 letters to --out" "\$T serve --dir '1111=yes abcdefghij | head -c 400' --in many.wav --out o.wav"
run 20 "analyze - --raw 44100 -o z.svg < /dev/zero" '$T analyze - --raw 44100 -o z.svg </dev/zero'
run 200 "decode sparse.wav (3 GB, mostly a hole)" '$T decode sparse.wav'
run 20 "decode - < sparse.wav" '$T decode - <sparse.wav'
run 40 "serve: a command's child holds the output" "\$T serve --dir '1111=echo quick answer; sleep 30 &' --in r.wav --out o.wav --timeout 4"
