#!/usr/bin/env python3
"""Writes a Windows .ico file from a text pixel map (mainicon.txt).

The map holds one or more images, each introduced by a line "size N" and followed by
N lines of N characters: '.' is a transparent pixel, 0-9 and A-F index the standard
16-colour palette below. Lines starting with '#' are comments. Each image is stored
as a 4-bit-per-pixel bitmap with its transparency mask.

    makeicon.py MAP.txt OUTPUT.ico
"""
import struct
import sys

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),  # 0-3: black maroon green olive
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),  # 4-7: navy purple teal silver
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),  # 8-B: gray red lime yellow
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),  # C-F: blue fuchsia aqua white
]


def read_images(path):
    images = []
    rows = None
    with open(path, encoding="ascii") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            if line.startswith("size "):
                size = int(line.split()[1])
                rows = []
                images.append((size, rows))
                continue
            if rows is None:
                sys.exit(f"{path}:{number}: pixels before any 'size' line")
            size = images[-1][0]
            if len(line) != size or any(c not in ".0123456789ABCDEF" for c in line):
                sys.exit(f"{path}:{number}: expected {size} pixels of . 0-9 A-F")
            rows.append(line)
    for size, rows in images:
        if len(rows) != size:
            sys.exit(f"{path}: image of size {size} has {len(rows)} rows")
    return images


def bitmap(size, rows):
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in PALETTE)
    colour_stride = ((size * 4 + 31) // 32) * 4
    mask_stride = ((size + 31) // 32) * 4
    colours = b""
    mask = b""
    for row in reversed(rows):  # bottom-up
        line = bytearray(colour_stride)
        bits = bytearray(mask_stride)
        for x, c in enumerate(row):
            index = 0 if c == "." else int(c, 16)
            line[x // 2] |= index << (4 if x % 2 == 0 else 0)
            if c == ".":
                bits[x // 8] |= 0x80 >> (x % 8)
        colours += bytes(line)
        mask += bytes(bits)
    return header + palette + colours + mask


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    images = read_images(sys.argv[1])
    blobs = [bitmap(size, rows) for size, rows in images]
    out = struct.pack("<HHH", 0, 1, len(blobs))
    offset = 6 + 16 * len(blobs)
    for (size, _), blob in zip(images, blobs):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 16, 0, 1, 4, len(blob), offset)
        offset += len(blob)
    out += b"".join(blobs)
    with open(sys.argv[2], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
