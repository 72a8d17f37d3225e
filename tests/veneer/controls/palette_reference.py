#!/usr/bin/env python3
"""The colour palette's reference pixels from colorsys.hls_to_rgb.

usage: palette_reference.py OUT_FILE
field x y r g b: the field at saturation 200, pixel (x, y) of the item at 1:1
bar j r g b: the bar at hue 180 and lightness 100, column j
colour h s l r g b: the colours the palette test picks
"""
import colorsys
import sys


def rgb(h, s, l):
    r, g, b = colorsys.hls_to_rgb(h, l, s)
    out = [int(v * 255) for v in (r, g, b)]
    return [1, 0, 0] if out == [0, 0, 0] else out


lines = []
for y in range(0, 200, 10):
    k = 199 - y   # item row y shows bitmap row y + 1, lightness k / 200
    for x in range(0, 360, 10):
        lines.append("field %d %d %d %d %d" % ((x, y) + tuple(rgb(x / 360, 1.0, k / 200))))
for j in range(0, 200, 10):
    lines.append("bar %d %d %d %d" % ((j,) + tuple(rgb(0.5, j / 200, 0.5))))
for h, s, l in ((180, 200, 100), (90, 200, 150), (90, 100, 150)):
    lines.append("colour %d %d %d %d %d %d" % ((h, s, l) + tuple(rgb(h / 360, s / 200, l / 200))))
with open(sys.argv[1], "w") as f:
    f.write("\n".join(lines) + "\n")
