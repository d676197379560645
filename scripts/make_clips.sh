#!/usr/bin/env bash
# Speaks the station-ID clips into a folder (default: build/win/audio):
# a.wav ... z.wav as the phonetic alphabet, 0.wav ... 9.wav as digits, and
# the closing clip website.wav and the sign-off clip QRT.wav.
# Mono 16-bit 44.1 kHz, leading and trailing silence trimmed.
set -euo pipefail
out=${1:-$(cd "$(dirname "$0")/.." && pwd)/build/win/audio}
mkdir -p "$out"
for tool in espeak-ng sox; do
  command -v "$tool" >/dev/null || { echo "make_clips: $tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

say() { # file text
  espeak-ng -v en-us -s 165 -w "$tmp/raw.wav" "$2"
  # Trim the silence espeak leaves at both ends, so IDs are not padded with gaps.
  sox "$tmp/raw.wav" -r 44100 -c 1 -b 16 "$tmp/clip.wav" \
      silence 1 0.02 0.5% reverse silence 1 0.02 0.5% reverse norm -3
  mv "$tmp/clip.wav" "$out/$1"
}

words=(alfa bravo charlie delta echo foxtrot golf hotel india juliett kilo lima mike
       november oscar papa quebec romeo sierra tango uniform victor whiskey x-ray
       yankee zulu)
letters=(a b c d e f g h i j k l m n o p q r s t u v w x y z)
for i in "${!letters[@]}"; do say "${letters[$i]}.wav" "${words[$i]}"; done
digits=(zero one two three four five six seven eight niner)
for d in 0 1 2 3 4 5 6 7 8 9; do say "$d.wav" "${digits[$d]}"; done
say website.wav "Sent with Tessary, zero to six line."
say QRT.wav "This station is now Q R T. Seventy three."
echo "make_clips: 38 clips in $out"
