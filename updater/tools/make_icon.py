#!/usr/bin/env python3
"""Draws scanupdate's program icon, a flatbed scanner with a sheet in it, and writes it
as a Windows icon file with a 32 x 32 and a 16 x 16 image in the 16 standard colours.

    python3 updater/tools/make_icon.py updater/scanupdate.ico
"""
import struct
import sys

# The 16 standard colours, in their usual order (R, G, B).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, NAVY, SILVER, GREY, LIME, CYAN, WHITE = 0, 4, 7, 8, 10, 14, 15
CLEAR = None


def canvas(size):
    return [[CLEAR] * size for _ in range(size)]


def fill(img, x0, y0, x1, y1, colour):
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            img[y][x] = colour


def box(img, x0, y0, x1, y1, inside, edge=BLACK):
    fill(img, x0, y0, x1, y1, edge)
    if x1 - x0 >= 2 and y1 - y0 >= 2:
        fill(img, x0 + 1, y0 + 1, x1 - 1, y1 - 1, inside)


def draw32():
    img = canvas(32)
    box(img, 8, 2, 21, 11, WHITE)                 # the sheet, half in the lid
    for y in (4, 6, 8):
        fill(img, 10, y, 19 if y != 8 else 16, y, NAVY)
    box(img, 3, 10, 28, 14, GREY)                 # lid
    box(img, 2, 14, 29, 25, SILVER)               # body
    fill(img, 4, 16, 27, 17, CYAN)                # the lamp under the glass
    fill(img, 3, 21, 28, 21, GREY)                # front panel seam
    fill(img, 25, 23, 26, 23, LIME)               # power light
    fill(img, 4, 26, 30, 26, GREY)                # shadow
    fill(img, 30, 15, 30, 26, GREY)
    return img


def draw16():
    img = canvas(16)
    box(img, 4, 0, 11, 6, WHITE)
    fill(img, 5, 2, 10, 2, NAVY)
    fill(img, 5, 4, 9, 4, NAVY)
    box(img, 1, 5, 14, 7, GREY)
    box(img, 0, 7, 14, 13, SILVER)
    fill(img, 1, 9, 13, 9, CYAN)
    fill(img, 12, 11, 12, 11, LIME)
    fill(img, 1, 14, 15, 14, GREY)
    fill(img, 15, 8, 15, 14, GREY)
    return img


def image_data(img):
    size = len(img)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in PALETTE)
    xor_row = (size * 4 + 31) // 32 * 4
    and_row = (size + 31) // 32 * 4
    xor = bytearray()
    mask = bytearray()
    for row in reversed(img):  # bitmaps run bottom-up
        packed = bytearray(xor_row)
        bits = bytearray(and_row)
        for x, colour in enumerate(row):
            value = 0 if colour is CLEAR else colour
            packed[x // 2] |= value << (4 if x % 2 == 0 else 0)
            if colour is CLEAR:
                bits[x // 8] |= 0x80 >> (x % 8)
        xor += packed
        mask += bits
    return header + palette + bytes(xor) + bytes(mask)


def main(path):
    images = [draw32(), draw16()]
    blobs = [image_data(img) for img in images]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for img, blob in zip(images, blobs):
        out += struct.pack('<BBBBHHII', len(img), len(img), 16, 0, 1, 4, len(blob), offset)
        offset += len(blob)
    out += b''.join(blobs)
    with open(path, 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else 'scanupdate.ico')
