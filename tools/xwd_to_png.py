#!/usr/bin/python3
# Turns an X window dump, as "xwd" writes it, into a PNG that any viewer opens: `make run`
# takes its screenshot under Xvfb with xwd and keeps the PNG. Written with struct and zlib
# alone, so it needs nothing the build does not install.
# Handles Z-pixmap dumps of true-colour and direct-colour visuals (pixels split by the
# masks) and of colour-mapped ones (pixels looked up in the dump's colours), 8 to 32 bits a
# pixel, either byte order.
# Usage: xwd_to_png.py INPUT.xwd OUTPUT.png

import struct
import sys
import zlib

HEADER_FIELDS = 25  # 32-bit words, big-endian, before the window name
Z_PIXMAP = 2
STATIC_GRAY, GRAY_SCALE, STATIC_COLOR, PSEUDO_COLOR, TRUE_COLOR, DIRECT_COLOR = range(6)


def fail(message):
    sys.exit("xwd_to_png: " + message)


def channel(mask):
    """The shift and the largest value of a colour mask."""
    if mask == 0:
        fail("a colour mask is empty")
    shift = (mask & -mask).bit_length() - 1
    return shift, mask >> shift


def read_rgb_rows(dump):
    if len(dump) < HEADER_FIELDS * 4:
        fail("the file is shorter than a header")
    (header_size, version, pixmap_format, depth, width, height, _xoffset, byte_order, _unit, _bit_order, _pad,
     bits_per_pixel, bytes_per_line, visual_class, red_mask, green_mask, blue_mask, _bits_per_rgb, _entries,
     colour_count, *_window) = struct.unpack(">%dI" % HEADER_FIELDS, dump[:HEADER_FIELDS * 4])
    if version != 7:
        fail("not an X11 window dump (version %d)" % version)
    if pixmap_format != Z_PIXMAP or bits_per_pixel not in (8, 16, 24, 32):
        fail("pixmap format %d with %d bits a pixel is not handled" % (pixmap_format, bits_per_pixel))
    colours_at = header_size
    pixels_at = colours_at + colour_count * 12
    if width == 0 or height == 0 or pixels_at + bytes_per_line * height > len(dump):
        fail("the file is shorter than its header says")
    if bytes_per_line * 8 < width * bits_per_pixel:
        fail("its rows are shorter than its width")

    # Colour-mapped visuals: each entry is a pixel value and 16-bit red, green and blue.
    lookup = None
    if visual_class in (STATIC_GRAY, GRAY_SCALE, STATIC_COLOR, PSEUDO_COLOR):
        lookup = {}
        for i in range(colour_count):
            value, red, green, blue = struct.unpack(">I3H", dump[colours_at + i * 12:colours_at + i * 12 + 10])
            lookup[value] = bytes((red >> 8, green >> 8, blue >> 8))
    elif visual_class not in (TRUE_COLOR, DIRECT_COLOR):
        fail("visual class %d is not handled" % visual_class)
    else:
        masks = [channel(m) for m in (red_mask, green_mask, blue_mask)]

    octets = bits_per_pixel // 8
    order = "little" if byte_order == 0 else "big"
    # The usual dump of a 24-bit screen, blue, green, red and a spare octet a pixel, is
    # taken apart by slices: it is most of what this sees, and pixel by pixel is slow.
    plain = lookup is None and octets == 4 and order == "little" and masks == [(16, 255), (8, 255), (0, 255)]
    rows = []
    for y in range(height):
        start = pixels_at + y * bytes_per_line
        line = dump[start:start + width * octets]
        row = bytearray(b"\x00")  # filter: none
        if plain:
            rgb = bytearray(width * 3)
            rgb[0::3], rgb[1::3], rgb[2::3] = line[2::4], line[1::4], line[0::4]
            rows.append(bytes(row + rgb))
            continue
        for x in range(0, width * octets, octets):
            value = int.from_bytes(line[x:x + octets], order)
            if lookup is not None:
                row += lookup.get(value, b"\x00\x00\x00")
            else:
                for shift, top in masks:
                    row.append(((value >> shift) & top) * 255 // top)
        rows.append(bytes(row))
    return width, height, rows


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: xwd_to_png.py INPUT.xwd OUTPUT.png")
    with open(sys.argv[1], "rb") as source:
        width, height, rows = read_rgb_rows(source.read())
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)  # 8-bit RGB
    png = (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", header) + png_chunk(b"IDAT", zlib.compress(b"".join(rows), 6)) +
           png_chunk(b"IEND", b""))
    with open(sys.argv[2], "wb") as out:
        out.write(png)


if __name__ == "__main__":
    main()
