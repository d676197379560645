#!/usr/bin/env bash
# Makes WAV files of a text in the 0-6 letter code with sox alone, the way
# someone outside Tessary would: each letter is a number (space 0, a-z 1-26)
# sent as two base-7 digits, each digit a DTMF tone pair.
# Usage: make_sox_wavs.sh OUTDIR "text"
# Writes OUTDIR/sox-8000.wav (mono 16-bit), sox-48000.wav (mono 16-bit),
# sox-stereo.wav (44100 Hz, two channels) and sox-8bit.wav (22050 Hz, 8-bit).
set -euo pipefail
out=$1
text=$2
mkdir -p "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

rows=(941 697 697 697 770 770 770)
cols=(1336 1209 1336 1477 1209 1336 1477)
# 0.35 s tones and gaps: long enough for the 256 ms frames of an 8000 Hz file.
for d in 0 1 2 3 4 5 6; do
  sox -q -n -r 44100 -c 1 -b 16 "$tmp/t$d.wav" synth 0.35 sine "${rows[$d]}" sine "${cols[$d]}" \
      channels 1 vol 0.45 pad 0 0.35
done

list=()
for ((i = 0; i < ${#text}; i++)); do
  c=${text:i:1}
  if [ "$c" = " " ]; then n=0; else n=$(( $(printf '%d' "'$c") - 96 )); fi
  list+=("$tmp/t$((n / 7)).wav" "$tmp/t$((n % 7)).wav")
done
sox -q "${list[@]}" "$tmp/master.wav"

sox -q "$tmp/master.wav" -r 8000 -b 16 -c 1 "$out/sox-8000.wav"
sox -q "$tmp/master.wav" -r 48000 -b 16 -c 1 "$out/sox-48000.wav"
sox -q "$tmp/master.wav" -r 44100 -b 16 -c 2 "$out/sox-stereo.wav"
sox -q "$tmp/master.wav" -r 22050 -b 8 -c 1 "$out/sox-8bit.wav"
