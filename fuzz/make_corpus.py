#!/usr/bin/env python3
"""Writes the seed corpus of small WAV files, well-formed and malformed."""
import os, struct, sys

out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus")
os.makedirs(out, exist_ok=True)

def chunk(cid, body):
    return cid + struct.pack("<I", len(body)) + body + (b"\0" if len(body) & 1 else b"")

def fmt(ch, rate, bits, tag=1):
    frame = ch * bits // 8
    return chunk(b"fmt ", struct.pack("<HHIIHH", tag, ch, rate, (rate * frame) & 0xFFFFFFFF, frame & 0xFFFF, bits))

def riff(body):
    return b"RIFF" + struct.pack("<I", 4 + len(body)) + b"WAVE" + body

pcm16 = struct.pack("<8h", 0, 16384, -16384, 32767, -32768, 1, -1, 100)
seeds = {
    "mono16": riff(fmt(1, 44100, 16) + chunk(b"data", pcm16)),
    "stereo8": riff(fmt(2, 22050, 8) + chunk(b"data", bytes([0, 128, 255, 1, 127, 200]))),
    "int32": riff(fmt(1, 48000, 32, 3) + chunk(b"data", struct.pack("<3i", 1 << 30, -(1 << 31), 5))),
    "bits24": riff(fmt(1, 8000, 24) + chunk(b"data", bytes(range(9)))),
    "zero_channels": riff(fmt(0, 8000, 16) + chunk(b"data", pcm16)),
    "rate0": riff(fmt(1, 0, 16) + chunk(b"data", pcm16)),
    "lying_size": riff(fmt(1, 8000, 16) + b"data" + struct.pack("<I", 0xFFFFFFFF) + pcm16),
    "odd_pad": riff(fmt(1, 8000, 16) + chunk(b"LIST", b"abc") + chunk(b"data", pcm16)),
    "fmt_after_data": riff(chunk(b"data", b"\x80\x00\xff") + fmt(1, 11025, 8)),
    "cut_fmt": riff(chunk(b"data", pcm16) + b"fmt " + struct.pack("<I", 16) + b"\x01\x00"),
    "no_data": riff(fmt(1, 8000, 16)),
    "cut_header": b"RIFF\x10\x00\x00\x00WAV",
    "many_channels": riff(fmt(65535, 8000, 32) + chunk(b"data", pcm16)),
    "empty_data": riff(fmt(1, 8000, 16) + chunk(b"data", b"")),
    "wide_frames": riff(fmt(65535, 8000, 65535) + chunk(b"data", pcm16)),
}
for name, data in seeds.items():
    with open(os.path.join(out, name + ".wav"), "wb") as f:
        f.write(data)
