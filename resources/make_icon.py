#!/usr/bin/env python3
"""Draws Tessary's icon -- a dark keypad of the six row/column keys plus 0
above a two-tone wave -- and writes it as a .ico with 16, 24, 32, 48, 64,
128 and 256 pixel images at 32 bits per pixel (BMP-in-ICO, alpha channel).

Shapes are signed-distance functions in unit coordinates; each pixel's
coverage comes from the distance at its centre, which anti-aliases edges
without supersampling. Plain Python, no imaging library needed.

Usage: make_icon.py OUT.ico
"""
import math
import struct
import sys

SIZES = (16, 24, 32, 48, 64, 128, 256)

BG = (20, 28, 25)
RIM = (46, 122, 92)
KEY = (124, 143, 135)
KEY_ZERO = (220, 231, 225)
WAVE = (76, 255, 179)


def rounded_box(px, py, cx, cy, hw, hh, r):
    qx = abs(px - cx) - hw + r
    qy = abs(py - cy) - hh + r
    out = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return out + min(max(qx, qy), 0.0) - r


def wave_y(x):
    t = (x - 0.14) / 0.72
    return 0.80 - 0.075 * (math.cos(2 * math.pi * 2.0 * t) + 0.6 * math.cos(2 * math.pi * 3.0 * t)) / 1.6


def wave_dist(px, py):
    if px < 0.14 or px > 0.86:
        ex = 0.14 if px < 0.14 else 0.86
        return math.hypot(px - ex, py - wave_y(ex))
    h = 1e-3
    slope = (wave_y(px + h) - wave_y(px - h)) / (2 * h)
    return abs(py - wave_y(px)) / math.sqrt(1 + slope * slope)


KEYS = [(0.28 + 0.22 * c, 0.22 + 0.18 * r, KEY) for r in range(2) for c in range(3)]
KEYS.append((0.50, 0.58, KEY_ZERO))


def shade(px, py, size):
    pix = 1.0 / size
    cover = lambda d: min(max(0.5 - d / pix, 0.0), 1.0)

    d_body = rounded_box(px, py, 0.5, 0.5, 0.47, 0.47, 0.17)
    a_body = cover(d_body)
    if a_body <= 0.0:
        return (0, 0, 0, 0)
    rim_w = max(0.03, 1.2 * pix)
    a_rim = cover(d_body + rim_w)  # 1 inside the rim band, 0 on it
    col = [RIM[i] * (1 - a_rim) + BG[i] * a_rim for i in range(3)]

    key_half = 0.075 if size >= 32 else 0.085
    for kx, ky, kc in KEYS:
        a = cover(rounded_box(px, py, kx, ky, key_half, key_half, key_half * 0.35))
        if a > 0.0:
            col = [kc[i] * a + col[i] * (1 - a) for i in range(3)]

    stroke = max(0.022, 0.7 * pix)
    a = cover(wave_dist(px, py) - stroke)
    if a > 0.0:
        col = [WAVE[i] * a + col[i] * (1 - a) for i in range(3)]
    return (int(col[0] + 0.5), int(col[1] + 0.5), int(col[2] + 0.5), int(a_body * 255 + 0.5))


def image(size):
    rows = []
    for y in range(size - 1, -1, -1):  # DIBs are stored bottom-up
        row = bytearray()
        for x in range(size):
            r, g, b, a = shade((x + 0.5) / size, (y + 0.5) / size, size)
            row += bytes((b, g, r, a))
        rows.append((y, bytes(row)))
    xor = b"".join(r for _, r in rows)
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for _, row in rows:
        bits = bytearray(mask_stride)
        for x in range(size):
            if row[4 * x + 3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return header + xor + bytes(mask)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_icon.py OUT.ico")
    images = [image(s) for s in SIZES]
    out = bytearray(struct.pack("<HHH", 0, 1, len(SIZES)))
    offset = 6 + 16 * len(SIZES)
    for s, data in zip(SIZES, images):
        dim = 0 if s == 256 else s
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    with open(sys.argv[1], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
