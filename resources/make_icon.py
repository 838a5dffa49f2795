#!/usr/bin/env python3
"""Draws the Dormalis icon (a shield over a starfield) and writes it as a multi-size .ico file."""
import math
import random
import struct
import sys
import zlib

SIZES = [16, 24, 32, 48, 64, 128, 256]
SUPERSAMPLE = 4

NIGHT = (11, 21, 48)
SHIELD_TOP = (64, 150, 235)
SHIELD_BOTTOM = (28, 84, 170)
OUTLINE = (255, 255, 255)


def inside_rounded_square(x, y, radius):
    cx = min(max(x, radius), 1 - radius)
    cy = min(max(y, radius), 1 - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def shield_distance(x, y):
    """Signed distance-like measure: negative inside the shield, in unit coordinates."""
    top, bottom, half_width = 0.18, 0.86, 0.30
    if y > bottom:
        return 1.0
    t = max(0.0, (y - top) / (bottom - top))
    # Straight sides for the upper half, then a curve down to the point.
    width = half_width if t < 0.45 else half_width * math.cos((t - 0.45) / 0.55 * math.pi / 2)
    return max(abs(x - 0.5) - width, top - y)




def star_field(seed=7, count=22):
    rng = random.Random(seed)
    return [(rng.uniform(0.08, 0.92), rng.uniform(0.08, 0.92), rng.uniform(0.012, 0.03)) for _ in range(count)]


def sample(x, y, stars, outline_width):
    """Colour and alpha of one subsample point."""
    if not inside_rounded_square(x, y, 0.2):
        return None
    d = shield_distance(x, y)
    if d < -outline_width:
        t = (y - 0.18) / 0.68
        return tuple(int(a + (b - a) * t) for a, b in zip(SHIELD_TOP, SHIELD_BOTTOM))
    if d < 0:
        return OUTLINE
    for sx, sy, r in stars:
        if (x - sx) ** 2 + (y - sy) ** 2 <= r * r:
            return (255, 255, 240)
    return NIGHT


def render(size, stars):
    outline_width = max(0.035, 1.2 / size)
    rows = []
    n = SUPERSAMPLE
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = a = 0
            for sy in range(n):
                for sx in range(n):
                    c = sample((px + (sx + 0.5) / n) / size, (py + (sy + 0.5) / n) / size, stars, outline_width)
                    if c is not None:
                        r += c[0]
                        g += c[1]
                        b += c[2]
                        a += 1
            if a:
                row.append((r // a, g // a, b // a, 255 * a // (n * n)))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def bmp_entry(size, rows):
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for row in reversed(rows):  # bottom-up
        for r, g, b, a in row:
            pixels += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytes(mask_stride * size)  # alpha carries the transparency
    return header + bytes(pixels) + mask


def png_entry(size, rows):
    """The largest size as PNG, which Windows reads in icons and which keeps every program that carries the icon
    a quarter of a megabyte smaller. Fixed compression settings: the same drawing gives the same bytes."""
    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
    scanlines = b''.join(b'\0' + b''.join(bytes(pixel) for pixel in row) for row in rows)
    header = struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) + chunk(b'IDAT', zlib.compress(scanlines, 9)) +
            chunk(b'IEND', b''))


def main(path):
    stars = star_field()
    images = [(png_entry if size == 256 else bmp_entry)(size, render(size, stars)) for size in SIZES]
    out = bytearray(struct.pack('<HHH', 0, 1, len(SIZES)))
    offset = 6 + 16 * len(SIZES)
    for size, data in zip(SIZES, images):
        dim = size if size < 256 else 0
        out += struct.pack('<BBBBHHII', dim, dim, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    with open(path, 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main(sys.argv[1])
