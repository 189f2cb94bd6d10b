#!/usr/bin/env python3
"""Draws res/kawauso04.ico: one 16 x 16 image in 16 colours, a rounded square with a dark
green outline and a pale yellow-green interior carrying a darker green pattern (an otter's
head: two ears, eyes and a nose)."""
import os
import struct

PALETTE = [  # 16 entries, (r, g, b)
    (0, 0, 0), (0, 80, 32), (40, 120, 48), (200, 230, 140),
    (230, 245, 190), (255, 255, 255)] + [(0, 0, 0)] * 10

# . transparent, O outline, P pattern, I interior, L light highlight, W white
PIXELS = [
    "................",
    "..OOOOOOOOOOOO..",
    ".OIIIIIIIIIIIIO.",
    ".OIPPIIIIIIPPIO.",
    ".OIPPIIIIIIPPIO.",
    ".OIIIIIIIIIIIIO.",
    ".OIIPPIIIIPPIIO.",
    ".OIIPWIIIIPWIIO.",
    ".OIIIIIIIIIIIIO.",
    ".OIIIIIPPIIIIIO.",
    ".OIIIIPPPPIIIIO.",
    ".OIIIPIIIIPIIIO.",
    ".OIIIIPPPPIIIIO.",
    ".OLIIIIIIIIIIIO.",
    "..OOOOOOOOOOOO..",
    "................",
]
INDEX = {".": 0, "O": 1, "P": 2, "I": 3, "L": 4, "W": 5}


def main():
    size = 16
    rows = []
    for line in reversed(PIXELS):  # bitmaps run bottom-up
        row = bytearray()
        for x in range(0, size, 2):
            row.append((INDEX[line[x]] << 4) | INDEX[line[x + 1]])
        rows.append(bytes(row))
    xor = b"".join(rows)
    and_rows = []
    for line in reversed(PIXELS):
        bits = 0
        for x in range(size):
            bits = (bits << 1) | (1 if line[x] == "." else 0)
        and_rows.append(struct.pack(">H", bits) + b"\0\0")  # rows padded to 32 bits
    and_mask = b"".join(and_rows)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0,
                         len(xor) + len(and_mask), 0, 0, 16, 0)
    image = header + palette + xor + and_mask
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), 6 + 16)
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "res", "kawauso04.ico")
    with open(out, "wb") as f:
        f.write(icondir + entry + image)


if __name__ == "__main__":
    main()
