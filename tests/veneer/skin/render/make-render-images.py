#!/usr/bin/env python3
"""Writes the renderer tests' reference images (PNG, RGBA) into this folder.

grid.png     12x12, nine 4x4 cells of flat colours (a nine-grid with corners 4)
opaque.png   30x30, every pixel a different opaque colour
tile.png     10x4, column c has the colour (20c, 100, 200-10c)
strip.png    80x10, four 20-pixel frames: red, green, blue, yellow
alpha.png    4x4, (200, 100, 50) at alpha 128
states.png   200x40, four flat 50-pixel frames: red, green, blue, olive (button states)
sep.png      4x20, flat purple (a list column's separator)
item.png     8x8, flat orange (a list item's picture)
Each also as its @150 twin (same pixels), which a 144-DPI window loads.
"""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

GRID = [[(255, 0, 0), (0, 255, 0), (0, 0, 255)],
        [(255, 255, 0), (255, 0, 255), (0, 255, 255)],
        [(128, 0, 0), (0, 128, 0), (0, 0, 128)]]


def png(width, height, pixel):
    raw = b''.join(b'\0' + b''.join(bytes(pixel(x, y)) for x in range(width)) for y in range(height))

    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
    header = struct.pack('>IIBBBBB', width, height, 8, 6, 0, 0, 0)
    return b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b'')


IMAGES = {
    'grid': (12, 12, lambda x, y: GRID[y // 4][x // 4] + (255,)),
    'opaque': (30, 30, lambda x, y: (x * 8, y * 8, (x * 5 + y * 3) % 256, 255)),
    'tile': (10, 4, lambda x, y: (20 * x, 100, 200 - 10 * x, 255)),
    'strip': (80, 10, lambda x, y: [(255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 0)][x // 20] + (255,)),
    'alpha': (4, 4, lambda x, y: (200, 100, 50, 128)),
    'states': (200, 40, lambda x, y: [(200, 30, 30), (30, 160, 30), (30, 30, 200), (128, 128, 0)][x // 50] + (255,)),
    'sep': (4, 20, lambda x, y: (128, 0, 128, 255)),
    'item': (8, 8, lambda x, y: (255, 128, 0, 255)),
}

for name, (w, h, f) in IMAGES.items():
    data = png(w, h, f)
    for suffix in ('', '@150'):
        with open(os.path.join(HERE, name + suffix + '.png'), 'wb') as out:
            out.write(data)
