#!/usr/bin/env python3
"""Draws the program's icon: a 32 x 32, 16-colour disk drive with a floppy going in.

Writes an indexed PNG (4 bits per pixel) in the C64's own 16 colours, one of which
(purple, unused in the picture) is made transparent. Run it from anywhere:

    python3 tools/icon/make_icon.py [output.png]

The default output is data/dorvane.png in the repository. The picture is fixed, so
the same file comes out every time.
"""

import os
import struct
import sys
import zlib

SIZE = 32

# The C64's palette, in its own index order.
PALETTE = [
    (0x00, 0x00, 0x00),  # 0 black
    (0xFF, 0xFF, 0xFF),  # 1 white
    (0x88, 0x39, 0x32),  # 2 red
    (0x67, 0xB6, 0xBD),  # 3 cyan
    (0x8B, 0x3F, 0x96),  # 4 purple: transparent here
    (0x55, 0xA0, 0x49),  # 5 green
    (0x40, 0x31, 0x8D),  # 6 blue
    (0xBF, 0xCE, 0x72),  # 7 yellow
    (0x8B, 0x54, 0x29),  # 8 orange
    (0x57, 0x42, 0x00),  # 9 brown
    (0xB8, 0x69, 0x62),  # 10 light red
    (0x50, 0x50, 0x50),  # 11 dark grey
    (0x78, 0x78, 0x78),  # 12 grey
    (0x94, 0xE0, 0x89),  # 13 light green
    (0x78, 0x69, 0xC4),  # 14 light blue
    (0x9F, 0x9F, 0x9F),  # 15 light grey
]
TRANSPARENT = 4

BLACK, WHITE, RED, GREEN, BLUE = 0, 1, 2, 5, 6
BROWN, LIGHT_RED, DARK_GREY, GREY, LIGHT_GREEN, LIGHT_GREY = 9, 10, 11, 12, 13, 15


def draw():
    px = [[TRANSPARENT] * SIZE for _ in range(SIZE)]

    def rect(x0, y0, x1, y1, colour):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                px[y][x] = colour

    # The floppy, half way into the drive: jacket, label, hub and write-protect notch.
    rect(8, 1, 23, 14, BLACK)
    rect(10, 2, 21, 5, WHITE)
    rect(11, 3, 19, 3, BLUE)
    rect(11, 4, 16, 4, LIGHT_RED)
    rect(14, 8, 17, 11, GREY)
    rect(15, 9, 16, 10, BLACK)
    rect(23, 3, 23, 4, TRANSPARENT)

    # The drive: outline, lit top face, front, shadow along the bottom.
    rect(1, 12, 30, 29, DARK_GREY)
    rect(2, 13, 29, 14, WHITE)
    rect(2, 15, 29, 27, LIGHT_GREY)
    rect(2, 28, 29, 28, GREY)
    for x in (1, 30):
        px[12][x] = TRANSPARENT
        px[29][x] = TRANSPARENT

    # The slot the floppy goes into, its lower lip, and the door lever across it.
    rect(4, 17, 27, 18, BLACK)
    rect(4, 19, 27, 19, GREY)
    rect(14, 16, 17, 21, DARK_GREY)
    rect(14, 16, 14, 21, GREY)

    # The band along the front and the two lamps: power and busy.
    rect(2, 23, 29, 23, BROWN)
    rect(4, 25, 5, 26, GREEN)
    px[25][4] = LIGHT_GREEN
    rect(8, 25, 9, 26, RED)
    px[25][8] = LIGHT_RED
    return px


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def png(px):
    header = struct.pack(">IIBBBBB", SIZE, SIZE, 4, 3, 0, 0, 0)  # 4-bit palette
    plte = b"".join(bytes(rgb) for rgb in PALETTE)
    trns = bytes(0 if i == TRANSPARENT else 255 for i in range(len(PALETTE)))
    raw = bytearray()
    for row in px:
        raw.append(0)  # no filter
        for x in range(0, SIZE, 2):
            raw.append((row[x] << 4) | row[x + 1])
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"PLTE", plte) +
            chunk(b"tRNS", trns) + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) +
            chunk(b"IEND", b""))


def main():
    top = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(top, "data", "dorvane.png")
    with open(out, "wb") as f:
        f.write(png(draw()))


if __name__ == "__main__":
    main()
