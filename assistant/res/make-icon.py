#!/usr/bin/env python3
"""Writes Certaide.ico: the window and tray icon, 16x16, 32x32 and 48x48,
32-bit with alpha (BMP form, which every icon reader takes). The picture is
the skin's logo: a blue disc with a white key."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
BLUE = (0x1E, 0x5A, 0xA0)


def pixel(size, x, y):
    s = size / 32.0
    c = 16 * s
    dx, dy = (x + 0.5 - c) / s, (y + 0.5 - c) / s
    if dx * dx + dy * dy > 15.5 * 15.5:
        return (0, 0, 0, 0)
    u, v = (x + 0.5) / s, (y + 0.5) / s
    ring = (u - 10) ** 2 + (v - 16) ** 2
    if 9 <= ring <= 30 or (14 <= u < 26 and 14.5 <= v < 17.5) or (20 <= u < 22 and 17.5 <= v < 21) \
            or (23.5 <= u < 25.5 and 17.5 <= v < 20):
        return (255, 255, 255, 255)
    return BLUE + (255,)


def image(size):
    rows = []
    for y in range(size - 1, -1, -1):          # bottom-up
        rows.append(b''.join(bytes((b, g, r, a)) for (r, g, b, a) in (pixel(size, x, y) for x in range(size))))
    xor = b''.join(rows)
    mask_row = ((size + 31) // 32) * 4
    and_mask = b'\0' * (mask_row * size)        # alpha decides
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, len(xor) + len(and_mask), 0, 0, 0, 0)
    return header + xor + and_mask


def main():
    sizes = [16, 32, 48]
    images = [image(s) for s in sizes]
    out = struct.pack('<HHH', 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images):
        out += struct.pack('<BBBBHHII', s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b''.join(images)
    with open(os.path.join(HERE, 'Certaide.ico'), 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main()
