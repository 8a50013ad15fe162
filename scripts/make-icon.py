#!/usr/bin/env python3
"""Draws the program icon (resources/tavrel.ico): a recordable disc with a
small landscape picture in front of it, in the 16 standard colours, at the
sizes Windows asks for at 100, 125, 150 and 200 % scaling (16 to 32 pixels
for title bars, 32 to 64 for the About box and Alt+Tab), so that none is
stretched. Run it again after changing the drawing:
    python3 scripts/make-icon.py resources/tavrel.ico
"""
import math
import struct
import sys

# The 16 colours of the standard palette, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DARK_GREY, GREY, LIGHT_GREY, WHITE = 0, 8, 8, 7, 15
CYAN, TEAL, BLUE, NAVY, GREEN, DARK_GREEN, YELLOW, RED = 14, 6, 12, 4, 10, 2, 11, 9
TRANSPARENT = None


def draw(size):
    """Returns size rows of size colour indices (None = transparent), top row first."""
    s = size / 32.0
    c = (size - 1) / 2.0
    rows = [[TRANSPARENT] * size for _ in range(size)]
    # The disc: a silver ring with a coloured sheen and a hole in the middle.
    for y in range(size):
        for x in range(size):
            r = math.hypot(x - c, y - c)
            if r > 15.6 * s:
                continue
            if r > 14.6 * s:
                rows[y][x] = DARK_GREY
            elif r < 2.2 * s:
                rows[y][x] = TRANSPARENT if r < 1.5 * s else DARK_GREY
            elif r < 5.0 * s:
                rows[y][x] = LIGHT_GREY
            else:
                angle = math.degrees(math.atan2(y - c, x - c)) % 360
                rows[y][x] = CYAN if 200 < angle < 250 else (WHITE if 20 < angle < 60 else LIGHT_GREY)
    # The picture: a framed landscape in the lower right corner.
    x0, y0, x1, y1 = round(15 * s), round(17 * s), size - 1, size - 1
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            if x in (x0, x1) or y in (y0, y1):
                rows[y][x] = BLACK
                continue
            u = (x - x0) / (x1 - x0)
            v = (y - y0) / (y1 - y0)
            hill = 0.62 - 0.25 * math.sin(u * math.pi)
            if v > hill:
                rows[y][x] = GREEN if v < 0.8 else DARK_GREEN
            elif math.hypot(u - 0.72, v - 0.3) < 0.16:
                rows[y][x] = YELLOW
            else:
                rows[y][x] = BLUE if v > 0.3 else NAVY
    return rows


def image(size):
    rows = draw(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, 2 * size, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in PALETTE)
    xor_stride = (size * 4 + 31) // 32 * 4
    and_stride = (size + 31) // 32 * 4
    xor = bytearray()
    mask = bytearray()
    for row in reversed(rows):  # bottom-up
        line = bytearray(xor_stride)
        bits = bytearray(and_stride)
        for x, colour in enumerate(row):
            index = 0 if colour is None else colour
            line[x // 2] |= index << (4 if x % 2 == 0 else 0)
            if colour is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        xor += line
        mask += bits
    return header + palette + bytes(xor) + bytes(mask)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else 'resources/tavrel.ico'
    sizes = (32, 16, 20, 24, 40, 48, 64)
    images = [image(size) for size in sizes]
    data = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, img in zip(sizes, images):
        data += struct.pack('<BBBBHHII', size, size, 16, 0, 1, 4, len(img), offset)
        offset += len(img)
    data += b''.join(images)
    with open(out, 'wb') as f:
        f.write(data)


if __name__ == '__main__':
    main()
