#!/usr/bin/env python3
"""Draws app.ico: one 32 x 32 image in the 16 standard colours, a closed parcel
(the archive) with a downward arrow (extraction).  Run it to regenerate the file."""
import struct
import sys

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


def ico(pixels):
    xor = bytearray()
    mask = bytearray()
    for y in range(31, -1, -1):         # bitmaps run bottom-up
        row = pixels[y]
        for x in range(0, 32, 2):
            a, b = row[x], row[x + 1]
            xor.append(((a or 0) << 4) | (b or 0))
        bits = 0
        for x in range(32):
            bits = (bits << 1) | (1 if row[x] is CLEAR else 0)
        mask += struct.pack(">I", bits)
    header = struct.pack("<IiiHHIIiiII", 40, 32, 64, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    image = header + palette + bytes(xor) + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", 32, 32, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else "app.ico"
    with open(out, "wb") as f:
        f.write(ico(draw()))
