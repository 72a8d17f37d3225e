#!/usr/bin/env python3
"""Writes the pop-up tests' images (PNG, RGBA) into this folder.

arrow.png   6x10, flat dark blue (a menu item's expand arrow)
strip.png   60x20, five flat 12-pixel frames of a combo box's arrow:
            normal red, hot green, pushed blue, focused olive, disabled grey
Each also as its @150 twin (same pixels), which a 144-DPI window loads.
"""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def png(width, height, pixel):
    raw = b''.join(b'\0' + b''.join(bytes(pixel(x, y)) for x in range(width)) for y in range(height))

    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
    header = struct.pack('>IIBBBBB', width, height, 8, 6, 0, 0, 0)
    return b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b'')


FRAMES = [(220, 20, 20), (20, 180, 20), (20, 20, 220), (128, 128, 0), (128, 128, 128)]
IMAGES = {
    'arrow': (6, 10, lambda x, y: (20, 30, 120, 255)),
    'strip': (60, 20, lambda x, y: FRAMES[x // 12] + (255,)),
}

if __name__ == '__main__':
    for name, (width, height, pixel) in IMAGES.items():
        for suffix in ('', '@150'):
            with open(os.path.join(HERE, name + suffix + '.png'), 'wb') as out:
                out.write(png(width, height, pixel))
