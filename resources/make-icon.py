#!/usr/bin/env python3
"""Writes veldrix.ico (32x32 and 16x16, 32-bit with alpha): a chip with a V."""
import struct
import sys


def pixels(size):
    s = size / 32.0
    body = (int(6 * s), int(6 * s), size - int(6 * s), size - int(6 * s))
    img = [[(0, 0, 0, 0)] * size for _ in range(size)]
    # pins on all four sides
    for i in range(4):
        c = body[0] + int((3 + i * 5) * s)
        w = max(1, int(2 * s))
        for k in range(w):
            for d in range(int(6 * s)):
                for (x, y) in ((c + k, d), (c + k, size - 1 - d), (d, c + k), (size - 1 - d, c + k)):
                    if 0 <= x < size and 0 <= y < size:
                        img[y][x] = (176, 176, 176, 255)
    for y in range(body[1], body[3]):
        for x in range(body[0], body[2]):
            edge = x in (body[0], body[2] - 1) or y in (body[1], body[3] - 1)
            img[y][x] = (20, 40, 90, 255) if edge else (30, 90, 200, 255)
    # a V from the top corners of the body to its bottom middle
    left, right = body[0] + int(3 * s), body[2] - 1 - int(3 * s)
    top, bottom = body[1] + int(3 * s), body[3] - 1 - int(3 * s)
    mid = (left + right) / 2.0
    for y in range(top, bottom + 1):
        t = (y - top) / max(1, bottom - top)
        for xc in (left + (mid - left) * t, right - (right - mid) * t):
            for dx in range(max(1, int(2 * s))):
                x = int(round(xc)) + dx - (max(1, int(2 * s)) // 2)
                if body[0] < x < body[2] - 1:
                    img[y][x] = (255, 255, 255, 255)
    return img


def bitmap(size):
    img = pixels(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    data = bytearray()
    for row in reversed(img):  # bottom-up rows
        for (r, g, b, a) in row:
            data += bytes((b, g, r, a))
    mask_row = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(img):
        bits = bytearray(mask_row)
        for x, p in enumerate(row):
            if p[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + bytes(data) + bytes(mask)


def main(path):
    sizes = (32, 16)
    images = [bitmap(n) for n in sizes]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for n, img in zip(sizes, images):
        out += struct.pack('<BBBBHHII', n, n, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    for img in images:
        out += img
    with open(path, 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else 'veldrix.ico')
