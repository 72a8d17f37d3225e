#!/usr/bin/env python3
"""Writes the skin's images into images/ (PNG, RGBA, and the busy GIF).

Each image is drawn at 96 DPI and again at 1.5 times its size as its @150
twin, which a window at 144 DPI loads in its place.

title_bar   800x40  flat #1E5AA0
logo        32x32   a white disc with a #1E5AA0 key bit, transparent corners
min, close  24x24   white glyphs on transparent
btn_*       16x16   button faces: normal #2F80D1, hot #4A95E0, pushed #1E5AA0,
                    disabled #B0B8C4, with 2-pixel transparent-blended corners
combo_arrow 12x12   a #606A78 downward triangle
busy.gif    24x24   four frames of 10/100 s, each a flat square of one colour:
                    #2F80D1, #22BA34, #FDA418, #FE3B00 (in that order),
                    looping for ever
"""
import os
import struct
import zlib

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'images')


def png(width, height, pixel):
    raw = b''.join(b'\0' + b''.join(bytes(pixel(x, y)) for x in range(width)) for y in range(height))

    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
    header = struct.pack('>IIBBBBB', width, height, 8, 6, 0, 0, 0)
    return b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b'')


def rgb(value):
    return ((value >> 16) & 255, (value >> 8) & 255, value & 255)


CLEAR = (0, 0, 0, 0)
WHITE = (255, 255, 255, 255)


def flat(colour):
    return lambda s: lambda x, y: rgb(colour) + (255,)


def logo(s):
    def pixel(x, y):
        c = 16 * s
        dx, dy = (x + 0.5 - c) / s, (y + 0.5 - c) / s
        if dx * dx + dy * dy > 15 * 15:
            return CLEAR
        # the key: a ring's bit and a shaft
        if 5 <= x / s < 15 and 12 <= y / s < 20:
            return rgb(0x1E5AA0) + (255,)
        if 15 <= x / s < 26 and 14 <= y / s < 18:
            return rgb(0x1E5AA0) + (255,)
        return WHITE
    return pixel


def minimise(s):
    return lambda x, y: WHITE if 6 * s <= x < 18 * s and 15 * s <= y < 17 * s else CLEAR


def close(s):
    def pixel(x, y):
        u, v = x / s, y / s
        on = 6 <= u < 18 and 6 <= v < 18 and (abs(u - v) < 1.2 or abs(u + v - 24) < 1.2)
        return WHITE if on else CLEAR
    return pixel


def button(colour):
    def face(s):
        size = 16 * s

        def pixel(x, y):
            corner = 2 * s
            cx = min(x, size - 1 - x)
            cy = min(y, size - 1 - y)
            if cx < corner and cy < corner and (corner - cx - 0.5) ** 2 + (corner - cy - 0.5) ** 2 > corner * corner:
                return CLEAR
            return rgb(colour) + (255,)
        return pixel
    return face


def arrow(s):
    def pixel(x, y):
        u, v = x / s, y / s
        return rgb(0x606A78) + (255,) if 3 <= v < 9 and abs(u - 6) <= (9 - v) else CLEAR
    return pixel


PNGS = {
    'title_bar': (800, 40, flat(0x1E5AA0)),
    'logo': (32, 32, logo),
    'min': (24, 24, minimise),
    'close': (24, 24, close),
    'btn_normal': (16, 16, button(0x2F80D1)),
    'btn_hot': (16, 16, button(0x4A95E0)),
    'btn_pushed': (16, 16, button(0x1E5AA0)),
    'btn_disabled': (16, 16, button(0xB0B8C4)),
    'combo_arrow': (12, 12, arrow),
}

BUSY_FRAMES = [0x2F80D1, 0x22BA34, 0xFDA418, 0xFE3B00]


def lzw_literals(indices):
    """LZW data with 2-bit minimum code size that holds only literals: a
    clear code before every second index keeps every code 3 bits wide."""
    bits, count, out = 0, 0, bytearray()

    def put(code):
        nonlocal bits, count
        bits |= code << count
        count += 3
        while count >= 8:
            out.append(bits & 255)
            bits >>= 8
            count -= 8
    for i, index in enumerate(indices):
        if i % 2 == 0:
            put(4)  # clear
        put(index)
    put(5)  # end of information
    if count:
        out.append(bits & 255)
    return bytes(out)


def gif(size):
    data = bytearray(b'GIF89a' + struct.pack('<HH', size, size) + bytes([0xF1, 0, 0]))
    for colour in BUSY_FRAMES:      # global table of 4 entries
        data += bytes(rgb(colour))
    data += b'\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00'  # loop for ever
    for index in range(len(BUSY_FRAMES)):
        data += b'\x21\xF9\x04\x00' + struct.pack('<H', 10) + b'\x00\x00'
        data += b'\x2C' + struct.pack('<HHHH', 0, 0, size, size) + b'\x00'
        stream = lzw_literals([index] * (size * size))
        data += b'\x02'
        for start in range(0, len(stream), 255):
            block = stream[start:start + 255]
            data += bytes([len(block)]) + block
        data += b'\x00'
    data += b'\x3B'
    return bytes(data)


def main():
    os.makedirs(HERE, exist_ok=True)
    for name, (width, height, draw) in PNGS.items():
        for suffix, num, den in (('', 2, 2), ('@150', 3, 2)):
            w, h = width * num // den, height * num // den
            with open(os.path.join(HERE, name + suffix + '.png'), 'wb') as f:
                f.write(png(w, h, draw(num / den)))
    with open(os.path.join(HERE, 'busy.gif'), 'wb') as f:
        f.write(gif(24))
    with open(os.path.join(HERE, 'busy@150.gif'), 'wb') as f:
        f.write(gif(36))


if __name__ == '__main__':
    main()
