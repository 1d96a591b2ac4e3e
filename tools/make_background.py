#!/usr/bin/env python3
"""Writes the plug-in window's background picture: a 1545 x 1118 8-bit RGB PNG.

A dark vertical gradient with a soft light pool in the upper middle, a faint brushed-metal
grain and a gentle vignette. Deterministic (fixed seed), standard library only.

    python3 tools/make_background.py resources/Background.png
"""
import math
import random
import struct
import sys
import zlib

WIDTH, HEIGHT = 1545, 1118


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def render():
    rng = random.Random(1545 * 1118)
    # Horizontal grain: one random offset per row plus a slow wobble, like brushed metal.
    row_grain = [rng.uniform(-1.0, 1.0) for _ in range(HEIGHT)]
    col_noise = [rng.uniform(-1.0, 1.0) for _ in range(WIDTH)]
    top, bottom = (30, 31, 35), (10, 10, 12)
    cx, cy = WIDTH * 0.5, HEIGHT * 0.28
    rows = []
    for y in range(HEIGHT):
        t = y / (HEIGHT - 1)
        base = [top[c] + (bottom[c] - top[c]) * t for c in range(3)]
        row = bytearray([0])  # filter type: none
        grain_row = row_grain[y] * 1.6
        dy = (y - cy) / HEIGHT
        vy = (y / HEIGHT - 0.5) ** 2
        for x in range(WIDTH):
            dx = (x - cx) / WIDTH
            glow = 14.0 * math.exp(-(dx * dx * 3.5 + dy * dy * 9.0))
            vignette = 1.0 - 0.55 * ((x / WIDTH - 0.5) ** 2 + vy)
            grain = grain_row + col_noise[(x * 7 + y) % WIDTH] * 0.9
            for c in range(3):
                tint = (0.0, 0.3, 1.2)[c]  # a cool steel tint in the light pool
                v = (base[c] + glow + tint * glow * 0.08 + grain) * vignette
                row.append(max(0, min(255, int(v + 0.5))))
        rows.append(bytes(row))
    return b"".join(rows)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_background.py OUTPUT.png")
    header = struct.pack(">IIBBBBB", WIDTH, HEIGHT, 8, 2, 0, 0, 0)  # 8-bit RGB, no interlace
    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(render(), 9)) \
        + chunk(b"IEND", b"")
    with open(sys.argv[1], "wb") as out:
        out.write(png)


if __name__ == "__main__":
    main()
