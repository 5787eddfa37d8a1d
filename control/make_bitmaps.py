#!/usr/bin/env python3
"""Writes the control module's three bitmaps (4 bits per pixel, the standard 16-colour palette):
toolbox.bmp, 16 x 15, the letters OCX in purple on light grey, chart.bmp, 16 x 15, the chart's
toolbox bitmap (a framed plot with a green wave and a red limit), and vandrel.bmp, 32 x 21, the
control's picture: an expansion card seen from the side. Run it from anywhere; the files land
beside it. The pictures are drawn below, one character per pixel."""
import os
import struct

PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
# Pixel characters and their palette index.
INK = {'k': 0, 'g': 2, 'p': 5, '.': 7, '#': 8, 'r': 9, 'G': 10, 'y': 11, 'w': 15}

TOOLBOX = [
    "................",
    "................",
    "................",
    "................",
    "................",
    "..pp...ppp.p..p.",
    ".p..p.p....p..p.",
    ".p..p.p.....pp..",
    ".p..p.p....p..p.",
    "..pp...ppp.p..p.",
    "................",
    "................",
    "................",
    "................",
    "................",
]

CHART = [
    "................",
    ".kkkkkkkkkkkkkk.",
    ".kwwwwwwwwwwwwk.",
    ".krrrrrrrrrrrrk.",
    ".kwwwwGwwwwwwwk.",
    ".kwwwGwGwwwwwwk.",
    ".kwwGwwwGwwwwGk.",
    ".kwGwwwwwGwwGwk.",
    ".kGwwwwwwwGGwwk.",
    ".kwwwwwwwwwwwwk.",
    ".kwwwwwwwwwwwwk.",
    ".kwwwwwwwwwwwwk.",
    ".kkkkkkkkkkkkkk.",
    "................",
    "................",
]

# Green board with bright green pixels along its top and red ones along its left edge, six small
# chips in two columns, a larger chip at the upper right, the mounting bracket on the right and the
# edge connector (yellow fingers, black gaps) along the bottom.
CARD = [
    "..........................#####.",
    ".............................##.",
    ".GGGGGGGGGGGGGGGGGGGGGGGGGGG.##.",
    ".rgggggggggggggggggggggggggg.##.",
    ".rgg####gg####ggg########ggg.##.",
    ".rgg####gg####ggg########ggg.##.",
    ".rggggggggggggggg########ggg.##.",
    ".rggggggggggggggg########ggg.##.",
    ".rgg####gg####ggg########ggg.##.",
    ".rgg####gg####gggggggggggggg.##.",
    ".rgggggggggggggggggggggggggg.##.",
    ".rgggggggggggggggggggggggggg.##.",
    ".rgg####gg####gggggggggggggg.##.",
    ".rgg####gg####gggggggggggggg.##.",
    ".rgggggggggggggggggggggggggg.##.",
    ".rgggggggggggggggggggggggggg.##.",
    "....yyyykyyykyyykyyykyyyy....##.",
    "....yyyykyyykyyykyyykyyyy....##.",
    ".............................##.",
    "..............................#.",
    "................................",
]


def write_bmp(path, rows):
    height = len(rows)
    width = len(rows[0])
    assert all(len(r) == width for r in rows), path
    stride = ((width * 4 + 31) // 32) * 4
    pixels = bytearray()
    for row in reversed(rows):  # bottom-up
        line = bytearray(stride)
        for x, c in enumerate(row):
            index = INK[c]
            line[x // 2] |= index << 4 if x % 2 == 0 else index
        pixels += line
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 4, 0, len(pixels), 0, 0, 16, 16)
    offset = 14 + len(info) + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    with open(path, "wb") as f:
        f.write(header + info + palette + pixels)


here = os.path.dirname(os.path.abspath(__file__))
write_bmp(os.path.join(here, "toolbox.bmp"), TOOLBOX)
write_bmp(os.path.join(here, "vandrel.bmp"), CARD)
write_bmp(os.path.join(here, "chart.bmp"), CHART)
