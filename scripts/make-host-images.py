#!/usr/bin/env python3
"""Draws the host's tree-view "remove row" buttons (13 x 13 PNG, normal and hover)."""
import math
import struct
import sys
import zlib

SIZE, SAMPLES = 13, 4
CROSS_HALF, CROSS_WIDTH = 2.6, 1.5


def coverage(x, y):
    """Fractions of the pixel covered by the disc and by the cross inside it."""
    disc = cross = 0
    centre = SIZE / 2
    for sy in range(SAMPLES):
        for sx in range(SAMPLES):
            px = x + (sx + 0.5) / SAMPLES - centre
            py = y + (sy + 0.5) / SAMPLES - centre
            if px * px + py * py <= (SIZE / 2 - 0.3) ** 2:
                disc += 1
                on_diagonal = min(abs(px - py), abs(px + py)) / math.sqrt(2) <= CROSS_WIDTH / 2
                if on_diagonal and max(abs(px), abs(py)) <= CROSS_HALF + 0.5:
                    cross += 1
    total = SAMPLES * SAMPLES
    return disc / total, cross / total


def image(colour):
    rows = bytearray()
    for y in range(SIZE):
        rows.append(0)  # no filter
        for x in range(SIZE):
            disc, cross = coverage(x, y)
            mix = cross / disc if disc else 0
            rgb = [round(c * (1 - mix) + 255 * mix) for c in colour]
            rows += bytes(rgb + [round(255 * disc)])
    return rows


def png(rows):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + chunk(b"IEND", b"")


def main(folder):
    for name, colour in (("remove_row.png", (0x8C, 0x8C, 0x8C)), ("remove_row_hover.png", (0xD2, 0x4A, 0x43))):
        with open(f"{folder}/{name}", "wb") as out:
            out.write(png(image(colour)))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "host/kelvar/images/treeview")
