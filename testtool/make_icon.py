#!/usr/bin/env python3
"""Draws Mirelo's application icon and writes mirelo.ico: 16, 32 and 48 pixels, 32-bit with alpha.

The picture: a small measuring instrument, a green trace on a dark screen in a grey case, with a
green and a red button below it (start and stop). Run it again after changing the drawing and
commit both this script and the .ico; the build only reads the .ico.
"""
import math
import os
import struct

SIZES = (16, 32, 48)
SUPERSAMPLE = 4

CASE = (0x3A, 0x4A, 0x5C)
CASE_EDGE = (0x1E, 0x28, 0x33)
SCREEN = (0x0B, 0x1F, 0x14)
TRACE = (0x5C, 0xF0, 0x7A)
START = (0x3C, 0xC8, 0x64)
STOP = (0xE0, 0x46, 0x46)


def inside_rounded(x, y, x0, y0, x1, y1, r):
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r and x0 <= x <= x1 and y0 <= y <= y1


def colour_at(x, y, size):
    """The colour at (x, y) in unit coordinates, or None where the icon is transparent."""
    line = max(0.045, 1.2 / size)  # the trace stays at least about a pixel wide
    if not inside_rounded(x, y, 0.04, 0.06, 0.96, 0.94, 0.14):
        return None
    if not inside_rounded(x, y, 0.04 + line, 0.06 + line, 0.96 - line, 0.94 - line, 0.14 - line):
        return CASE_EDGE
    if 0.14 <= x <= 0.86 and 0.15 <= y <= 0.66:
        wave = 0.405 + 0.16 * math.sin(2 * math.pi * 1.5 * (x - 0.14) / 0.72)
        if abs(y - wave) <= line * 1.3:
            return TRACE
        return SCREEN
    for cx, c in ((0.32, START), (0.68, STOP)):
        if (x - cx) ** 2 + (y - 0.80) ** 2 <= 0.075 ** 2:
            return c
    return CASE


def render(size):
    """Rows of (b, g, r, a) from the top, averaged over SUPERSAMPLE^2 samples per pixel."""
    rows = []
    n = SUPERSAMPLE
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(n):
                for sx in range(n):
                    c = colour_at((px + (sx + 0.5) / n) / size, (py + (sy + 0.5) / n) / size, size)
                    if c is not None:
                        acc[0] += c[0]
                        acc[1] += c[1]
                        acc[2] += c[2]
                        acc[3] += 1
            covered = acc[3]
            if covered == 0:
                row.append((0, 0, 0, 0))
            else:
                r, g, b = (round(acc[i] / covered) for i in range(3))
                row.append((b, g, r, round(255 * covered / (n * n))))
        rows.append(row)
    return rows


def dib(size, rows):
    """The icon image as a DIB: header (height doubled for the mask), BGRA bottom-up, AND mask."""
    mask_stride = ((size + 31) // 32) * 4
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, size * size * 4 + mask_stride * size,
                         0, 0, 0, 0)
    pixels = b"".join(bytes(p) for row in reversed(rows) for p in row)
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, p in enumerate(row):
            if p[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + pixels + bytes(mask)


def main():
    images = [dib(s, render(s)) for s in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, img in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    out += b"".join(images)
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "mirelo.ico")
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
