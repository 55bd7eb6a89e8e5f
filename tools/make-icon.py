#!/usr/bin/env python3
"""Draws the Orvantis icon and writes it as resources/orvantis.ico (five images: 48, 32, 24
and 16 pixels at 8 bits per pixel, and 48 pixels at 32 bits per pixel), as PNG files for the
desktop's icon theme (16 to 256 pixels) and as a scalable SVG file. Standard library only; run it
from anywhere after changing the drawing."""

import os
import struct
import zlib

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources")
SUPERSAMPLE = 4

# The artwork: a podium of three steps on a dark blue rounded square, a gold star above the
# highest step. Coordinates are fractions of the icon's size.
BACKGROUND = (28, 52, 96)
STEPS = [  # left, top, right, colour
    (0.14, 0.58, 0.38, (176, 184, 196)),   # second place
    (0.38, 0.40, 0.62, (232, 180, 40)),    # first place
    (0.62, 0.68, 0.86, (196, 120, 64)),    # third place
]
STAR = ((0.50, 0.22), 0.15, (255, 214, 70))


def inside_rounded_square(x, y, radius=0.18, margin=0.04):
    lo, hi = margin, 1 - margin
    if not (lo <= x <= hi and lo <= y <= hi):
        return False
    cx = min(max(x, lo + radius), hi - radius)
    cy = min(max(y, lo + radius), hi - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def star_points():
    import math
    (cx, cy), r, _ = STAR
    points = []
    for k in range(10):
        angle = -math.pi / 2 + k * math.pi / 5
        radius = r if k % 2 == 0 else r * 0.45
        points.append((cx + radius * math.cos(angle), cy + radius * math.sin(angle)))
    return points


def inside_star(x, y):
    points = star_points()
    inside = False  # even-odd rule
    for i in range(len(points)):
        (x1, y1), (x2, y2) = points[i], points[i - 1]
        if (y1 > y) != (y2 > y) and x < (x2 - x1) * (y - y1) / (y2 - y1) + x1:
            inside = not inside
    return inside


def colour_at(x, y):
    if not inside_rounded_square(x, y):
        return None
    if inside_star(x, y):
        return STAR[2]
    for left, top, right, colour in STEPS:
        if left <= x <= right and top <= y <= 0.86:
            return colour
    return BACKGROUND


def render(size):
    """RGBA rows, top first, antialiased by supersampling."""
    n = size * SUPERSAMPLE
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = a = 0
            for sy in range(SUPERSAMPLE):
                for sx in range(SUPERSAMPLE):
                    c = colour_at((px * SUPERSAMPLE + sx + 0.5) / n, (py * SUPERSAMPLE + sy + 0.5) / n)
                    if c:
                        r, g, b, a = r + c[0], g + c[1], b + c[2], a + 1
            count = SUPERSAMPLE * SUPERSAMPLE
            row.append((r // a, g // a, b // a, 255 * a // count) if a else (0, 0, 0, 0))
        rows.append(row)
    return rows


def palette_of(rows):
    """Up to 256 colours: the most used ones of the opaque pixels."""
    counts = {}
    for row in rows:
        for r, g, b, a in row:
            if a >= 128:
                key = (r & 0xF8, g & 0xF8, b & 0xF8)
                counts[key] = counts.get(key, 0) + 1
    colours = sorted(counts, key=lambda c: -counts[c])[:255]
    return [(0, 0, 0)] + colours


def nearest(palette, r, g, b):
    return min(range(1, len(palette)), key=lambda i: (palette[i][0] - r) ** 2 + (palette[i][1] - g) ** 2 + (palette[i][2] - b) ** 2)


def and_mask(rows, size):
    stride = ((size + 31) // 32) * 4
    data = b""
    for row in reversed(rows):
        bits = bytearray(stride)
        for x, (_, _, _, a) in enumerate(row):
            if a < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        data += bytes(bits)
    return data


def dib_8bit(rows, size):
    palette = palette_of(rows)
    palette += [(0, 0, 0)] * (256 - len(palette))
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 8, 0, 0, 0, 0, 256, 0)
    colours = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    stride = (size + 3) & ~3
    pixels = b""
    cache = {}
    for row in reversed(rows):
        line = bytearray(stride)
        for x, (r, g, b, a) in enumerate(row):
            if a >= 128:
                key = (r, g, b)
                if key not in cache:
                    cache[key] = nearest(palette, r, g, b)
                line[x] = cache[key]
        pixels += bytes(line)
    return header + colours + pixels + and_mask(rows, size)


def dib_32bit(rows, size):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(struct.pack("<BBBB", b, g, r, a) for row in reversed(rows) for r, g, b, a in row)
    return header + pixels + and_mask(rows, size)


def write_ico(path, images):
    """images: (size, bits per pixel, DIB bytes)."""
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    body = b""
    for size, bits, dib in images:
        colours = 0  # 256 colours are written as 0
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, colours, 0, 1, bits, len(dib), offset)
        offset += len(dib)
        body += dib
    with open(path, "wb") as f:
        f.write(directory + body)


def write_png(path, rows):
    size = len(rows)
    raw = b"".join(b"\0" + bytes(v for pixel in row for v in pixel) for row in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(png)


def write_svg(path, size=256):
    """The same drawing as shapes: a rounded square, the three steps and the star."""
    hex_of = lambda c: "#%02x%02x%02x" % c
    margin, radius = 0.04, 0.18
    shapes = [f'<rect x="{margin}" y="{margin}" width="{1 - 2 * margin}" height="{1 - 2 * margin}" '
              f'rx="{radius}" fill="{hex_of(BACKGROUND)}"/>']
    for left, top, right, colour in STEPS:
        shapes.append(f'<rect x="{left}" y="{top}" width="{right - left:.2f}" height="{0.86 - top:.2f}" '
                      f'fill="{hex_of(colour)}"/>')
    points = " ".join(f"{x:.4f},{y:.4f}" for x, y in star_points())
    shapes.append(f'<polygon points="{points}" fill="{hex_of(STAR[2])}"/>')
    svg = (f'<svg xmlns="http://www.w3.org/2000/svg" width="{size}" height="{size}" viewBox="0 0 1 1">\n  '
           + "\n  ".join(shapes) + "\n</svg>\n")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        f.write(svg)


def main():
    rendered = {size: render(size) for size in (16, 24, 32, 48, 64, 128, 256)}
    images = [(s, 8, dib_8bit(rendered[s], s)) for s in (48, 32, 24, 16)]
    images.append((48, 32, dib_32bit(rendered[48], 48)))
    write_ico(os.path.join(ROOT, "orvantis.ico"), images)
    for size, rows in rendered.items():
        write_png(os.path.join(ROOT, "icons", f"{size}x{size}", "orvantis.png"), rows)
    write_svg(os.path.join(ROOT, "icons", "scalable", "orvantis.svg"))


if __name__ == "__main__":
    main()
