#!/usr/bin/env bash
# Streaming decode benchmark: tessary-cli decode beside multimon-ng on the
# same ten minutes of numpy-made tones, clean and in white noise (wall time,
# best of RUNS, the speed ratio, peak memory and digit errors), then decode's
# peak memory on one and ten hours through a pipe.
# Prints figures; passes or fails nothing.
# Usage: bench/stream_bench.sh [PATH_TO_TESSARY_CLI] [RUNS]
set -euo pipefail
cli=$(realpath "${1:-build/native/cli/tessary-cli}")
runs=${2:-5}

# The measuring tools, never the product's: installed here when missing.
need=""
/usr/bin/python3 -c 'import numpy' 2>/dev/null || need="$need python3-numpy"
for t in sox multimon-ng; do command -v "$t" >/dev/null 2>&1 || need="$need $t"; done
[ -x /usr/bin/time ] || need="$need time"
if [ -n "$need" ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $need
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Ten minutes of random digits 0-6 (180 ms tone, 90 ms gap, 44.1 kHz 16-bit
# mono), clean and in white noise: sigma 0.05 against tones of 0.4 each
# ("noisy"), and at an SNR of 0 and -6 dB (the pair's power while it sounds
# over the noise's across the band, then one gain for the whole file so it
# does not clip); and a header whose sizes are untold, as a recorder
# writing to a pipe leaves them.
/usr/bin/python3 - "$work" <<'EOF'
import sys, wave
import numpy as np
out = sys.argv[1]
rate, rng = 44100, np.random.default_rng(20240611)
rows = [941, 697, 697, 697, 770, 770, 770]
cols = [1336, 1209, 1336, 1477, 1209, 1336, 1477]
nt, ng, fade = round(0.18 * rate), round(0.09 * rate), round(0.012 * rate)
t = np.arange(nt) / rate
env = np.ones(nt)
env[:fade] = np.linspace(0, 1, fade, endpoint=False)
env[-fade:] = np.linspace(1, 0, fade, endpoint=False)
digits = rng.integers(0, 7, int((600 - 0.2) / 0.27))
parts = [np.zeros(round(0.05 * rate))]
for d in digits:
    tone = 0.4 * env * (np.sin(2 * np.pi * rows[d] * t) + np.sin(2 * np.pi * cols[d] * t))
    parts += [tone, np.zeros(ng)]
parts.append(np.zeros(round(0.15 * rate)))
clean = np.concatenate(parts)
def snr(db):
    x = clean + rng.normal(0, (0.16 / 10 ** (db / 10)) ** 0.5, len(clean))
    return x * min(1.0, 0.97 / np.max(np.abs(x)))
for name, x in (("clean", clean), ("noisy", clean + rng.normal(0, 0.05, len(clean))),
                ("snr0", snr(0)), ("snr-6", snr(-6))):
    with wave.open(f"{out}/{name}.wav", "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(np.clip(np.round(x * 32767), -32768, 32767).astype("<i2").tobytes())
open(f"{out}/sent.txt", "w").write("".join(map(str, digits)) + "\n")
with open(f"{out}/untold.hdr", "wb") as f:
    f.write(b"RIFF\xff\xff\xff\xffWAVEfmt \x10\x00\x00\x00\x01\x00\x01\x00")
    f.write((44100).to_bytes(4, "little") + (88200).to_bytes(4, "little"))
    f.write(b"\x02\x00\x10\x00data\xff\xff\xff\xff")
EOF
audios="clean noisy snr0 snr-6"
for a in $audios; do
    sox -V1 "$work/$a.wav" -t raw -r 22050 -e signed -b 16 -c 1 "$work/$a.raw"
    tail -c +45 "$work/$a.wav" >"$work/$a.pcm"
done

# Best wall times of $runs runs of the commands in arrays A and B, taken in
# turn so that a machine whose speed drifts slows both alike: "a b", seconds.
best_pair() {
    local ba="" bb=""
    for _ in $(seq "$runs"); do
        local t0 t1 t2
        t0=$(date +%s%N)
        "${A[@]}" >/dev/null 2>&1 || true
        t1=$(date +%s%N)
        "${B[@]}" >/dev/null 2>&1 || true
        t2=$(date +%s%N)
        if [ -z "$ba" ] || [ $((t1 - t0)) -lt "$ba" ]; then ba=$((t1 - t0)); fi
        if [ -z "$bb" ] || [ $((t2 - t1)) -lt "$bb" ]; then bb=$((t2 - t1)); fi
    done
    awk -v a="$ba" -v b="$bb" 'BEGIN { printf "%.3f %.3f\n", a / 1e9, b / 1e9 }'
}
# Peak resident memory of one run, in MiB.
peak() {
    /usr/bin/time -f %M -o "$work/rss" "$@" >/dev/null 2>&1 || true
    awk '{ printf "%.1f", $1 / 1024 }' "$work/rss"
}

# Digit errors: edit distance between the digits sent and those found.
errors() {
    /usr/bin/python3 - "$work/sent.txt" "$1" <<'EOF'
import sys
a = open(sys.argv[1]).read().strip()
b = "".join(c for c in open(sys.argv[2]).read() if c in "0123456789ABCD*#?")
band = 64 + abs(len(a) - len(b))  # errors are few: a band of the table will do
big = len(a) + len(b)
prev = {j: j for j in range(0, min(len(b), band) + 1)}
for i in range(1, len(a) + 1):
    cur = {}
    for j in range(max(0, i - band), min(len(b), i + band) + 1):
        if j == 0:
            cur[j] = i
            continue
        cur[j] = min(prev.get(j, big) + 1, cur.get(j - 1, big) + 1,
                     prev.get(j - 1, big) + (a[i - 1] != b[j - 1]))
    prev = cur
print(prev.get(len(b), big))
EOF
}

echo "tessary-cli decode ($cli) beside multimon-ng, 10 minutes, best of $runs taken in turn:"
printf '%-7s %-26s %8s %9s %9s %s\n' audio decoder "wall s" "speed" "peak MiB" "found/sent, errors"
sent=$(($(wc -c <"$work/sent.txt") - 1))
for a in $audios; do
    "$cli" decode "$work/$a.wav" --as digits >"$work/t.txt" || true
    multimon-ng -q -a DTMF -t raw "$work/$a.raw" | sed -n 's/^DTMF: //p' >"$work/m.txt" || true
    A=("$cli" decode "$work/$a.wav" --as digits)
    B=(multimon-ng -q -a DTMF -t raw "$work/$a.raw")
    read -r tt tm < <(best_pair)
    printf '%-7s %-26s %8s %9s %9s %s\n' "$a" "tessary-cli decode" "$tt" \
        "$(awk -v a="$tm" -v b="$tt" 'BEGIN { printf "%.2fx", a / b }')" \
        "$(peak "$cli" decode "$work/$a.wav" --as digits)" \
        "$(tr -d '\n?' <"$work/t.txt" | wc -c)/$sent, $(errors "$work/t.txt")"
    printf '%-7s %-26s %8s %9s %9s %s\n' "" "multimon-ng (22050 Hz raw)" "$tm" "1x" \
        "$(peak multimon-ng -q -a DTMF -t raw "$work/$a.raw")" \
        "$(wc -l <"$work/m.txt")/$sent, $(errors "$work/m.txt")"
done

echo
echo "tessary-cli decode through a pipe, the clean ten minutes repeated:"
printf '%-34s %9s %10s %s\n' input "wall s" "peak MiB" "digits found/sent"
feed() { # hours, then wav or raw
    [ "$2" = raw ] || cat "$work/untold.hdr"
    for _ in $(seq $(($1 * 6))); do cat "$work/clean.pcm"; done
}
long() {
    local t0 t1 found
    local opts=(decode - --as digits)
    [ "$2" = wav ] || opts=(decode --raw 44100 - --as digits)
    t0=$(date +%s%N)
    found=$( (feed "$1" "$2" | /usr/bin/time -f %M -o "$work/rss" "$cli" "${opts[@]}" || true) |
        tr -d '\n?' | wc -c)
    t1=$(date +%s%N)
    printf '%-34s %9s %10s %s\n' "$1 h, $2 (sizes untold) on stdin" \
        "$(awk -v n=$((t1 - t0)) 'BEGIN { printf "%.2f", n / 1e9 }')" \
        "$(awk '{ printf "%.1f", $1 / 1024 }' "$work/rss")" "$found/$((sent * $1 * 6))"
}
long 1 wav
long 10 raw
