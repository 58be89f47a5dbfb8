#!/usr/bin/env python3
"""Draws the program mark: a rounded square in the accent blue with a white camera lens (a
ring) around a white play triangle.

Writes app/resources/icons/vendrel-N.png for N = 16, 32, 48, 64, 128, 256 (each drawn at its
own size, 4 x 4 samples per pixel, so edges are crisp at 1:1) and vendrel.svg with the same
shapes. Standard library only.

Usage: scripts/draw-icon.py [OUTPUT-FOLDER]
"""
import math
import pathlib
import struct
import sys
import zlib

ACCENT = (0x3C, 0x8D, 0xDE)
WHITE = (0xFF, 0xFF, 0xFF)
SIZES = (16, 32, 48, 64, 128, 256)
SAMPLES = 4

# The shapes in units of the icon's side (0..1).
MARGIN = 1 / 32          # free border around the square
RADIUS = 0.19            # corner radius of the square
RING_OUTER = 0.33        # lens ring around the centre
RING_WIDTH = 0.075
TRIANGLE = ((0.415, 0.335), (0.415, 0.665), (0.665, 0.5))  # play triangle, pointing right


def in_rounded_square(x, y):
    lo, hi = MARGIN, 1 - MARGIN
    if not (lo <= x <= hi and lo <= y <= hi):
        return False
    cx = min(max(x, lo + RADIUS), hi - RADIUS)
    cy = min(max(y, lo + RADIUS), hi - RADIUS)
    return (x - cx) ** 2 + (y - cy) ** 2 <= RADIUS ** 2


def in_ring(x, y, width):
    d = math.hypot(x - 0.5, y - 0.5)
    return RING_OUTER - width <= d <= RING_OUTER


def in_triangle(x, y):
    (ax, ay), (bx, by), (cx, cy) = TRIANGLE
    def side(px, py, qx, qy):
        return (qx - px) * (y - py) - (qy - py) * (x - px)
    s1, s2, s3 = side(ax, ay, bx, by), side(bx, by, cx, cy), side(cx, cy, ax, ay)
    return (s1 <= 0 and s2 <= 0 and s3 <= 0) or (s1 >= 0 and s2 >= 0 and s3 >= 0)


def draw(size):
    # Thin shapes keep at least one and a half pixels at small sizes.
    width = max(RING_WIDTH, 1.5 / size)
    rows = []
    for py in range(size):
        row = bytearray([0])  # filter: none
        for px in range(size):
            square = white = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (px + (sx + 0.5) / SAMPLES) / size
                    y = (py + (sy + 0.5) / SAMPLES) / size
                    if in_rounded_square(x, y):
                        square += 1
                        if in_ring(x, y, width) or in_triangle(x, y):
                            white += 1
            n = SAMPLES * SAMPLES
            alpha = square / n
            if square == 0:
                row += bytes(4)
                continue
            mix = white / square
            color = [round(a * (1 - mix) + b * mix) for a, b in zip(ACCENT, WHITE)]
            row += bytes(color + [round(alpha * 255)])
        rows.append(bytes(row))
    return rows


def png(size, rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b""))


def svg():
    s = 256
    m, r = MARGIN * s, RADIUS * s
    ring_r = (RING_OUTER - RING_WIDTH / 2) * s
    points = " ".join(f"{x * s:g},{y * s:g}" for x, y in TRIANGLE)
    return (f'<svg xmlns="http://www.w3.org/2000/svg" width="{s}" height="{s}" viewBox="0 0 {s} {s}">\n'
            f'  <rect x="{m:g}" y="{m:g}" width="{s - 2 * m:g}" height="{s - 2 * m:g}" rx="{r:g}" fill="#3C8DDE"/>\n'
            f'  <circle cx="{s / 2:g}" cy="{s / 2:g}" r="{ring_r:g}" fill="none" stroke="#FFFFFF" '
            f'stroke-width="{RING_WIDTH * s:g}"/>\n'
            f'  <polygon points="{points}" fill="#FFFFFF"/>\n'
            f'</svg>\n')


def main():
    out = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else
                       pathlib.Path(__file__).resolve().parent.parent / "app/resources/icons")
    out.mkdir(parents=True, exist_ok=True)
    for size in SIZES:
        (out / f"vendrel-{size}.png").write_bytes(png(size, draw(size)))
    (out / "vendrel.svg").write_text(svg())
    print(f"program mark written to {out}")


if __name__ == "__main__":
    main()
