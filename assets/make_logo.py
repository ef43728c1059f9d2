#!/usr/bin/python3
# Draws "LOGO", the window icon: a square RGBA PNG of Quarn's mark (a ring with a tail
# across a rounded tile), written with zlib and struct alone so the asset build needs no
# imaging library. The output is the same byte for byte on every run.
# Usage: make_logo.py OUTPUT.png

import math
import struct
import sys
import zlib

SIDE = 128
SAMPLES = 4  # per axis, per pixel: the edges are anti-aliased by coverage

TILE = (0x1E, 0x27, 0x33)
MARK = (0xF2, 0xB1, 0x34)
TILE_RADIUS = 0.22  # corner radius, as a fraction of the side


def inside_tile(x, y):
    r = TILE_RADIUS
    cx = min(max(x, r), 1.0 - r)
    cy = min(max(y, r), 1.0 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def inside_mark(x, y):
    # The ring, centred a little up and left so the tail has room.
    d = math.hypot(x - 0.47, y - 0.47)
    if 0.19 <= d <= 0.30:
        return True
    # The tail: a bar from the ring's lower right out towards the corner.
    ux, uy = x - 0.60, y - 0.60
    along = (ux + uy) / math.sqrt(2.0)
    across = (ux - uy) / math.sqrt(2.0)
    return -0.04 <= along <= 0.24 and abs(across) <= 0.055


def pixel(px, py):
    tile = mark = 0
    for sy in range(SAMPLES):
        for sx in range(SAMPLES):
            x = (px + (sx + 0.5) / SAMPLES) / SIDE
            y = (py + (sy + 0.5) / SAMPLES) / SIDE
            if inside_tile(x, y):
                tile += 1
                if inside_mark(x, y):
                    mark += 1
    total = SAMPLES * SAMPLES
    if tile == 0:
        return (0, 0, 0, 0)
    # Colour of the covered part, alpha from the tile's coverage.
    t = mark / tile
    rgb = tuple(round(a + (b - a) * t) for a, b in zip(TILE, MARK))
    return rgb + (round(255 * tile / total),)


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_logo.py OUTPUT.png")
    rows = bytearray()
    for y in range(SIDE):
        rows.append(0)  # filter type none
        for x in range(SIDE):
            rows.extend(pixel(x, y))
    header = struct.pack(">IIBBBBB", SIDE, SIDE, 8, 6, 0, 0, 0)  # 8-bit RGBA
    png = (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", header) +
           png_chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + png_chunk(b"IEND", b""))
    with open(sys.argv[1], "wb") as out:
        out.write(png)


if __name__ == "__main__":
    main()
