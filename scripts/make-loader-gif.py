#!/usr/bin/env python3
"""Draws the busy animation shown while the service's authorization page loads (300 x 400 GIF)."""
import math
import struct
import sys

WIDTH, HEIGHT, FRAMES, DOTS = 300, 400, 12, 12
PALETTE = [(0xFF, 0xFF, 0xFF), (0xD5, 0xDD, 0xE6), (0x7A, 0x93, 0xAD), (0x23, 0x4E, 0x78)]


def frame(step):
    pixels = bytearray(WIDTH * HEIGHT)
    cx, cy, ring, radius = WIDTH / 2, HEIGHT / 2, 48, 9
    for dot in range(DOTS):
        angle = 2 * math.pi * dot / DOTS
        x, y = cx + ring * math.sin(angle), cy - ring * math.cos(angle)
        age = (step - dot) % DOTS
        colour = 3 if age == 0 else 2 if age < 3 else 1
        for py in range(int(y - radius), int(y + radius) + 1):
            for px in range(int(x - radius), int(x + radius) + 1):
                if (px - x) ** 2 + (py - y) ** 2 <= radius * radius:
                    pixels[py * WIDTH + px] = colour
    return pixels


def lzw(pixels, min_size):
    clear, end = 1 << min_size, (1 << min_size) + 1
    out, bits, nbits = bytearray(), 0, 0
    size = min_size + 1

    def emit(code):
        nonlocal bits, nbits
        bits |= code << nbits
        nbits += size
        while nbits >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            nbits -= 8

    table = {bytes([i]): i for i in range(clear)}
    next_code = end + 1
    emit(clear)
    current = b""
    for value in pixels:
        candidate = current + bytes([value])
        if candidate in table:
            current = candidate
            continue
        emit(table[current])
        if next_code < 4096:
            table[candidate] = next_code
            next_code += 1
            if next_code > (1 << size) and size < 12:
                size += 1
        else:
            emit(clear)
            table = {bytes([i]): i for i in range(clear)}
            next_code, size = end + 1, min_size + 1
        current = bytes([value])
    emit(table[current])
    emit(end)
    if nbits:
        out.append(bits & 0xFF)
    return bytes(out)


def main(path):
    data = bytearray(b"GIF89a")
    data += struct.pack("<HHBBB", WIDTH, HEIGHT, 0xF1, 0, 0)  # global table of 4 colours
    for r, g, b in PALETTE:
        data += bytes([r, g, b])
    data += b"\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00"  # loop forever
    for step in range(FRAMES):
        data += b"\x21\xF9\x04\x00" + struct.pack("<H", 8) + b"\x00\x00"  # 80 ms per frame
        data += b"\x2C" + struct.pack("<HHHHB", 0, 0, WIDTH, HEIGHT, 0)
        data += bytes([2])
        encoded = lzw(frame(step), 2)
        for i in range(0, len(encoded), 255):
            chunk = encoded[i:i + 255]
            data += bytes([len(chunk)]) + chunk
        data += b"\x00"
    data += b"\x3B"
    with open(path, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "loader.gif")
