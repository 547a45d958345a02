#!/usr/bin/python3
"""Draws the program's pictures: the 89 x 89 logo of the title window
(logo.bmp, 24 bits, on the window's white) and the icon (kelvra.ico, 16, 32
and 48 pixel frames, 32 bits with alpha). Plain Python, no libraries: every
pixel is the share of its 8 x 8 sub-samples that fall inside the shapes.

    python3 make_art.py            writes both files beside this script

The picture: a rounded square in a blue that darkens downwards, holding a
white "K" with rounded strokes.
"""

import math
import os
import struct

SAMPLES = 8
TOP = (52, 132, 214)
BOTTOM = (18, 64, 140)
WHITE = (255, 255, 255)


def in_rounded_square(x, y, inset=0.03, radius=0.2):
    lo, hi = inset + radius, 1 - inset - radius
    cx, cy = min(max(x, lo), hi), min(max(y, lo), hi)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2 and inset <= x <= 1 - inset and inset <= y <= 1 - inset


def near_segment(x, y, ax, ay, bx, by, half):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
    px, py = ax + t * dx, ay + t * dy
    return (x - px) ** 2 + (y - py) ** 2 <= half * half


def in_triangle(x, y, a, b, c):
    def side(p, q):
        return (q[0] - p[0]) * (y - p[1]) - (q[1] - p[1]) * (x - p[0])
    s1, s2, s3 = side(a, b), side(b, c), side(c, a)
    return (s1 >= 0 and s2 >= 0 and s3 >= 0) or (s1 <= 0 and s2 <= 0 and s3 <= 0)


def in_letter(x, y, size):
    # Thicker strokes for the small frames, so that the letter survives 16 px.
    half = 0.085 if size <= 16 else 0.07
    if 0.27 - half <= x <= 0.27 + half and 0.2 <= y <= 0.8:
        return True
    if near_segment(x, y, 0.33, 0.53, 0.70, 0.22, half):
        return True
    if near_segment(x, y, 0.40, 0.47, 0.66, 0.74, half) and y <= 0.8:
        return True
    return False


def pixel(px, py, size):
    """(colour, coverage) of one pixel."""
    inside = letter = 0
    for sy in range(SAMPLES):
        for sx in range(SAMPLES):
            x = (px + (sx + 0.5) / SAMPLES) / size
            y = (py + (sy + 0.5) / SAMPLES) / size
            if in_rounded_square(x, y):
                inside += 1
                if in_letter(x, y, size):
                    letter += 1
    total = SAMPLES * SAMPLES
    if inside == 0:
        return (0, 0, 0), 0.0
    t = py / max(1, size - 1)
    blue = tuple(round(a + (b - a) * t) for a, b in zip(TOP, BOTTOM))
    share = letter / inside
    colour = tuple(round(b + (w - b) * share) for b, w in zip(blue, WHITE))
    return colour, inside / total


def draw(size):
    return [[pixel(x, y, size) for x in range(size)] for y in range(size)]


def bmp_24_on_white(rows):
    size = len(rows)
    stride = (size * 3 + 3) & ~3
    data = bytearray()
    for row in reversed(rows):  # bottom-up
        line = bytearray()
        for (r, g, b), a in row:
            line += bytes(round(c * a + 255 * (1 - a)) for c in (b, g, r))
        line += b"\0" * (stride - len(line))
        data += line
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(data), 0, 0, 14 + 40)
    info = struct.pack("<IiiHHIIiiII", 40, size, size, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    return header + info + bytes(data)


def icon_image(rows):
    size = len(rows)
    xor = bytearray()
    mask = bytearray()
    mask_stride = ((size + 31) // 32) * 4
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, ((r, g, b), a) in enumerate(row):
            alpha = round(a * 255)
            xor += bytes((b, g, r, alpha))
            if alpha == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return info + bytes(xor) + bytes(mask)


def ico(sizes):
    images = [icon_image(draw(s)) for s in sizes]
    offset = 6 + 16 * len(images)
    head = struct.pack("<HHH", 0, 1, len(images))
    entries = b""
    for s, image in zip(sizes, images):
        entries += struct.pack("<BBBBHHII", s % 256, s % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    return head + entries + b"".join(images)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, "logo.bmp"), "wb") as out:
        out.write(bmp_24_on_white(draw(89)))
    with open(os.path.join(here, "kelvra.ico"), "wb") as out:
        out.write(ico([16, 32, 48]))


if __name__ == "__main__":
    main()
