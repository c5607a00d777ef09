#!/usr/bin/env python3
"""Draws the patch program's icon and writes velkstub.ico.

The picture is a disc with a sticking plaster across it. It is drawn at 8x supersampling from
simple shapes and then reduced to the palettes of the icon's four images: 16 x 16 and 32 x 32,
each at 4 bits per pixel (the 16 standard colours) and 8 bits per pixel (a 6x6x6 colour cube and
a grey ramp). A pixel less than half covered is transparent.

Usage: python3 make_icon.py [output.ico]   (no third-party modules needed)
"""
import math
import struct
import sys

SUPERSAMPLE = 8

VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
    (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
    (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def cube_palette():
    levels = [0, 51, 102, 153, 204, 255]
    palette = [(r, g, b) for r in levels for g in levels for b in levels]
    palette += [(round(i * 255 / 39),) * 3 for i in range(40)]
    return palette


def plaster_frame(x, y):
    """Coordinates along and across the plaster, which runs from lower left to upper right."""
    c = math.sqrt(0.5)
    u = (x - 0.5) * c - (y - 0.5) * c
    v = (x - 0.5) * c + (y - 0.5) * c
    return u, v


def rounded_box(u, v, half_length, half_width, radius):
    du = max(abs(u) - (half_length - radius), 0.0)
    dv = max(abs(v) - (half_width - radius), 0.0)
    return du * du + dv * dv <= radius * radius


# The picture's parts in full colour, and as the 16-colour images show them.
FULL = {
    "hole": (150, 90, 40), "pad": (240, 200, 150), "edge": (200, 120, 50), "plaster": (230, 160, 80),
    "outline": (40, 40, 60), "ring": (90, 90, 110), "hub": (220, 220, 230),
    "base": (90, 140, 210), "light": (200, 230, 255),
}
SIXTEEN = {
    "hole": (128, 128, 0), "pad": (255, 255, 255), "edge": (128, 128, 0), "plaster": (255, 255, 0),
    "outline": (0, 0, 128), "ring": (128, 128, 128), "hub": (255, 255, 255),
    "base": (192, 192, 192), "light": (255, 255, 255),
}


def shade(x, y, colours=FULL):
    """Colour of the point (x, y) in the unit square, or None where the icon is transparent."""
    dx, dy = x - 0.5, y - 0.5
    r = math.hypot(dx, dy)
    u, v = plaster_frame(x, y)

    if rounded_box(u, v, 0.47, 0.13, 0.1):
        if abs(u) < 0.12:  # the pad in the middle, with its holes
            hole = any(math.hypot(u - hu, v - hv) < 0.025 for hu in (-0.06, 0.0, 0.06) for hv in (-0.05, 0.05))
            return colours["hole"] if hole else colours["pad"]
        edge = abs(v) > 0.1
        return colours["edge"] if edge else colours["plaster"]

    if 0.455 < r <= 0.49:
        return colours["outline"]
    if r <= 0.455:
        if r < 0.07:
            return None  # the hole in the middle
        if r < 0.09 or (0.17 < r < 0.19):
            return colours["ring"]
        if r < 0.17:
            return colours["hub"]
        # A bright sweep across the data area, as light catches a disc.
        angle = math.atan2(dy, dx)
        glow = 0.5 + 0.5 * math.cos(2 * (angle + 0.8))
        if colours is SIXTEEN:
            return colours["light"] if glow > 0.7 else colours["base"]
        return tuple(round(b + (l - b) * glow) for b, l in zip(colours["base"], colours["light"]))
    return None


def render(size, colours):
    """Rows of (colour or None), top row first."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            total = [0, 0, 0]
            covered = 0
            for sy in range(SUPERSAMPLE):
                for sx in range(SUPERSAMPLE):
                    c = shade((px + (sx + 0.5) / SUPERSAMPLE) / size, (py + (sy + 0.5) / SUPERSAMPLE) / size, colours)
                    if c is not None:
                        covered += 1
                        for i in range(3):
                            total[i] += c[i]
            if covered * 2 < SUPERSAMPLE * SUPERSAMPLE:
                row.append(None)
            else:
                row.append(tuple(t / covered for t in total))
        rows.append(row)
    return rows


def nearest(palette, colour):
    return min(range(len(palette)), key=lambda i: sum((a - b) ** 2 for a, b in zip(palette[i], colour)))


def padded(row_bytes):
    return row_bytes + b"\0" * (-len(row_bytes) % 4)


def icon_image(size, bits):
    palette = VGA16 if bits == 4 else cube_palette()
    palette = palette + [(0, 0, 0)] * ((1 << bits) - len(palette))
    pixels = render(size, SIXTEEN if bits == 4 else FULL)
    colour_rows, mask_rows = [], []
    for row in reversed(pixels):  # bitmaps are stored bottom row first
        indices = [0 if c is None else nearest(palette, c) for c in row]
        if bits == 4:
            data = bytes((indices[i] << 4) | indices[i + 1] for i in range(0, size, 2))
        else:
            data = bytes(indices)
        colour_rows.append(padded(data))
        mask = 0
        for c in row:
            mask = (mask << 1) | (1 if c is None else 0)
        mask_rows.append(padded(mask.to_bytes(size // 8, "big")))
    colour = b"".join(colour_rows)
    masks = b"".join(mask_rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, len(colour) + len(masks), 0, 0, 0, 0)
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    return header + table + colour + masks


def write_icon(path):
    images = [(16, 4), (32, 4), (16, 8), (32, 8)]
    blobs = [icon_image(size, bits) for size, bits in images]
    offset = 6 + 16 * len(images)
    out = struct.pack("<HHH", 0, 1, len(images))
    for (size, bits), blob in zip(images, blobs):
        out += struct.pack("<BBBBHHII", size, size, 16 if bits == 4 else 0, 0, 1, bits, len(blob), offset)
        offset += len(blob)
    with open(path, "wb") as f:
        f.write(out + b"".join(blobs))


if __name__ == "__main__":
    write_icon(sys.argv[1] if len(sys.argv) > 1 else "velkstub.ico")
