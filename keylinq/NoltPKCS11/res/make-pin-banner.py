#!/usr/bin/env python3
"""Draws the PIN dialog's banner: 350 x 57 pixels, 8-bit RGBA PNG.

A blue band fading to transparent at its right end, with a key symbol (a
ring and a bit) in white on the left. Run it to write pin-banner.png next
to this script; the PNG in the tree is its output.
"""
import math
import os
import struct
import zlib

W, H = 350, 57


def pixel(x, y):
    # The band: dark to light blue from left to right, fading out over the
    # last 90 pixels.
    t = x / (W - 1)
    r = int(24 + 40 * t)
    g = int(86 + 90 * t)
    b = int(170 + 70 * t)
    a = 255 if x < W - 90 else int(255 * (W - 1 - x) / 89)
    # The key: a ring around (34, 28) and its shaft with two teeth.
    d = math.hypot(x - 34, y - 28)
    if 9 <= d <= 15:
        return (255, 255, 255, 255)
    if 48 <= x <= 88 and 25 <= y <= 31:
        return (255, 255, 255, 255)
    if (70 <= x <= 75 or 80 <= x <= 85) and 31 < y <= 39:
        return (255, 255, 255, 255)
    # A soft line under the band's text area.
    if y == 47 and 110 <= x <= 300:
        return (255, 255, 255, 160)
    return (r, g, b, a)


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def main():
    rows = bytearray()
    for y in range(H):
        rows.append(0)
        for x in range(W):
            rows.extend(pixel(x, y))
    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", W, H, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(rows), 9))
    png += chunk(b"IEND", b"")
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "pin-banner.png")
    with open(out, "wb") as f:
        f.write(png)


if __name__ == "__main__":
    main()
