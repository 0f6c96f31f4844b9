#!/usr/bin/env python3
"""Draws app.ico: one 32 x 32 image in the 16 standard colours, a closed parcel
(the archive) with a downward arrow (extraction).  Run it to regenerate the file.

The image is stored PNG-compressed, as icons may hold since Windows Vista: 184 bytes
where the same pixels as a 4-bit bitmap with its mask take 744, which the stub's
resource section feels (the stub declares Windows 7 and later)."""
import struct
import sys
import zlib

# The 16 standard VGA colours, as (red, green, blue).
PALETTE = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
           (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
           (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
BLACK, OLIVE, GREY, YELLOW, BLUE, WHITE = 0, 3, 8, 11, 12, 15
CLEAR = None


def draw():
    pixels = [[CLEAR] * 32 for _ in range(32)]

    def rect(x0, y0, x1, y1, colour):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                pixels[y][x] = colour

    rect(3, 12, 28, 29, BLACK)          # the parcel, outlined
    rect(4, 13, 27, 28, YELLOW)
    rect(4, 13, 27, 15, OLIVE)          # its lid
    rect(14, 13, 17, 28, WHITE)         # the band
    rect(14, 1, 17, 10, BLUE)           # the arrow's shaft
    for y in range(11, 19):             # its head, pointing into the parcel
        half = 18 - y
        rect(15 - half, y, 16 + half, y, BLUE)
    rect(3, 30, 28, 30, GREY)           # a shadow
    return pixels


def png(pixels):
    """An 8-bit indexed PNG of the colours the drawing uses, index 0 transparent."""
    used = [CLEAR] + sorted({c for row in pixels for c in row if c is not CLEAR})

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    rows = b"".join(b"\0" + bytes(used.index(c) for c in row) for row in pixels)
    colours = b"".join(bytes(PALETTE[c]) if c is not CLEAR else b"\0\0\0" for c in used)
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", 32, 32, 8, 3, 0, 0, 0))
            + chunk(b"PLTE", colours) + chunk(b"tRNS", b"\0")
            + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


def ico(pixels):
    image = png(pixels)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", 32, 32, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + entry + image


if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else "app.ico"
    with open(out, "wb") as f:
        f.write(ico(draw()))
