#!/usr/bin/env python3
"""Draws the program's icon: a 32 x 32, 16-colour disk drive with a floppy going in.

The picture is one grid of the C64's own 16 colours, one of which (purple, unused in
the picture) is transparent. From it come:

- data/dorvane.png: the grid itself as an indexed PNG (4 bits per pixel), built into
  the window;
- data/icons/scalable/dorvane.svg: the same pixels as squares, for any size;
- data/icons/NxN/dorvane.png for the desktop's sizes from 16 to 256: each output pixel
  is the area-weighted mean of the grid cells it covers, as a renderer draws the SVG,
  so whole multiples stay crisp and the other sizes are smoothed, not jagged.

Run it from anywhere:

    python3 tools/icon/make_icon.py            write every file under data/
    python3 tools/icon/make_icon.py --check    fail if a file there differs
    python3 tools/icon/make_icon.py out.png    only the 32 x 32 picture, to out.png

The picture is fixed, so the same files come out every time.
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


# The sizes a desktop asks for in the hicolor theme.
SIZES = (16, 22, 24, 32, 48, 64, 128, 256)


def svg(px):
    """The grid as squares, one path per colour; runs of a colour along a row merge."""
    paths = {}
    for y, row in enumerate(px):
        x = 0
        while x < SIZE:
            colour = row[x]
            end = x
            while end + 1 < SIZE and row[end + 1] == colour:
                end += 1
            if colour != TRANSPARENT:
                paths.setdefault(colour, []).append("M%d %dh%dv1h-%dz" % (x, y, end - x + 1,
                                                                          end - x + 1))
            x = end + 1
    lines = ['<?xml version="1.0" encoding="UTF-8"?>',
             '<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" '
             'viewBox="0 0 %d %d" shape-rendering="crispEdges">' % (SIZE, SIZE, SIZE, SIZE),
             '  <title>Dorvane</title>']
    for colour in sorted(paths):
        lines.append('  <path fill="#%02x%02x%02x" d="%s"/>' % (PALETTE[colour] +
                                                               ("".join(paths[colour]),)))
    lines.append("</svg>")
    return ("\n".join(lines) + "\n").encode("ascii")


def scaled_rgba(px, size):
    """Rows of RGBA bytes: each output pixel averages the grid cells under it by area.

    Colours are averaged weighted by their opacity, so the transparent purple never
    tints an edge."""
    step = SIZE / size
    rows = []
    for oy in range(size):
        row = bytearray()
        y0, y1 = oy * step, (oy + 1) * step
        for ox in range(size):
            x0, x1 = ox * step, (ox + 1) * step
            r = g = b = a = 0.0
            for sy in range(int(y0), min(SIZE, int(-(-y1 // 1)))):
                wy = min(y1, sy + 1) - max(y0, sy)
                for sx in range(int(x0), min(SIZE, int(-(-x1 // 1)))):
                    w = wy * (min(x1, sx + 1) - max(x0, sx))
                    colour = px[sy][sx]
                    if w <= 0 or colour == TRANSPARENT:
                        continue
                    cr, cg, cb = PALETTE[colour]
                    r += cr * w
                    g += cg * w
                    b += cb * w
                    a += w
            area = step * step
            if a > 0:
                row += bytes((round(r / a), round(g / a), round(b / a), round(255 * a / area)))
            else:
                row += bytes(4)
        rows.append(bytes(row))
    return rows


def png_rgba(rows):
    size = len(rows)
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    raw = b"".join(b"\0" + row for row in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def outputs(top):
    """Every file this script makes, by its path."""
    px = draw()
    data = os.path.join(top, "data")
    files = {os.path.join(data, "dorvane.png"): png(px),
             os.path.join(data, "icons", "scalable", "dorvane.svg"): svg(px)}
    for size in SIZES:
        files[os.path.join(data, "icons", "%dx%d" % (size, size), "dorvane.png")] = \
            png_rgba(scaled_rgba(px, size))
    return files


def main():
    top = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    args = sys.argv[1:]
    if args and args[0] != "--check":
        with open(args[0], "wb") as f:
            f.write(png(draw()))
        return 0
    stale = []
    for path, content in outputs(top).items():
        try:
            with open(path, "rb") as f:
                same = f.read() == content
        except OSError:
            same = False
        if same:
            continue
        if args:
            stale.append(os.path.relpath(path, top))
            continue
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(content)
    for path in stale:
        print("make_icon.py: out of date (run tools/icon/make_icon.py): " + path,
              file=sys.stderr)
    return 1 if stale else 0


if __name__ == "__main__":
    sys.exit(main())
