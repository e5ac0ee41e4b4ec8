#!/usr/bin/env python3
"""Draws the program's icon, res/stackhold.ico: the banner's logo (a stack of
three disks, white) on a blue rounded square, at 48, 32, 24 and 16 pixels.

The logo is the figure of InsideLogo in src/wizard/artwork_win32.cpp, drawn
the same way: 4 x 4 samples per pixel, so edges are smooth at every size.
The entries are 32-bit DIBs with an alpha channel and an AND mask, which
every Windows from 7 on and Wine read.

usage: make_icon.py [OUTPUT]   (default: stackhold.ico beside this script)"""

import os
import struct
import sys

SIZES = (48, 32, 24, 16)
BANNER_BLUE = (14, 140, 220)
WHITE = (255, 255, 255)
SAMPLES = 4


def inside_ellipse(x, y, cx, cy, rx, ry):
    dx, dy = (x - cx) / rx, (y - cy) / ry
    return dx * dx + dy * dy <= 1.0


def inside_logo(u, v, gap):
    """The same figure as InsideLogo in artwork_win32.cpp (unit square)."""
    centre, radius_x, radius_y, top, bottom = 0.5, 0.36, 0.12, 0.2, 0.8

    def under_ellipse(cy):
        return inside_ellipse(u, v, centre, cy, radius_x, radius_y)

    body = (abs(u - centre) <= radius_x and top <= v <= bottom) or under_ellipse(top) or under_ellipse(bottom)
    if not body:
        return False
    disk = (bottom - top) / 3
    for cy in (top, top + disk, top + 2 * disk):
        if v > cy and under_ellipse(cy + gap) and not under_ellipse(cy):
            return False
    return True


def inside_rounded_square(x, y, size, radius):
    cx = min(max(x, radius), size - radius)
    cy = min(max(y, radius), size - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius


def coverage(px, py, test):
    hits = 0
    for sy in range(SAMPLES):
        for sx in range(SAMPLES):
            if test(px + (sx + 0.5) / SAMPLES, py + (sy + 0.5) / SAMPLES):
                hits += 1
    return hits / (SAMPLES * SAMPLES)


def draw(size):
    """Rows of (r, g, b, a) pixels, top row first."""
    radius = 0.2 * size
    margin = 0.08 * size
    side = size - 2 * margin
    gap = max(0.05, 1.2 / side)
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            back = coverage(px, py, lambda x, y: inside_rounded_square(x, y, size, radius))
            logo = coverage(px, py, lambda x, y: inside_logo((x - margin) / side, (y - margin) / side, gap))
            logo = min(logo, back)
            # White over blue by the logo's cover; the square's edge gives alpha.
            colour = tuple(round(b * (1 - logo / back) + w * (logo / back)) if back else 0
                           for b, w in zip(BANNER_BLUE, WHITE))
            row.append(colour + (round(255 * back),))
        rows.append(row)
    return rows


def dib_entry(rows):
    """A 32-bit icon image: header, colour rows and AND mask, bottom-up."""
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    mask_row_bytes = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_row_bytes)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + colour + bytes(mask)


def icon_file(sizes):
    images = [dib_entry(draw(size)) for size in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    return out + b"".join(images)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "stackhold.ico")
    with open(target, "wb") as f:
        f.write(icon_file(SIZES))


if __name__ == "__main__":
    main()
