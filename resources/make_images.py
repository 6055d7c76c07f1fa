#!/usr/bin/env python3
"""Draws the window icon and the combo-box arrow as PNG files.

Standard library only, so it runs anywhere: each pixel is the coverage of a
few shapes, averaged over a 4x4 grid of sub-samples for smooth edges.
Run from anywhere; writes into resources/images/ beside this script.
"""
import math
import os
import struct
import zlib

BLUE = (0, 142, 214)
ORANGE = (255, 143, 29)
WHITE = (255, 255, 255)
GREY = (96, 96, 96)
SUB = 4


def png(path, w, h, pixels):
    """pixels: rows of (r, g, b, a) tuples."""
    raw = b"".join(b"\0" + bytes(c for px in row for c in px) for row in pixels)

    def chunk(tag, data):
        body = tag + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        f.write(chunk(b"IEND", b""))


def render(w, h, layers):
    """layers: list of (colour, inside(x, y) -> bool) painted in order, in
    coordinates scaled to 0..1 over the image."""
    rows = []
    for py in range(h):
        row = []
        for px in range(w):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SUB):
                for sx in range(SUB):
                    x = (px + (sx + 0.5) / SUB) / w
                    y = (py + (sy + 0.5) / SUB) / h
                    col = None
                    for c, inside in layers:
                        if inside(x, y):
                            col = c
                    if col:
                        for i in range(3):
                            acc[i] += col[i]
                        acc[3] += 1
            n = SUB * SUB
            a = acc[3] / n
            if acc[3]:
                rgb = [int(round(acc[i] / acc[3])) for i in range(3)]
            else:
                rgb = [0, 0, 0]
            row.append((*rgb, int(round(a * 255))))
        rows.append(row)
    return rows


def rounded_square(x, y, r=0.18, m=0.03):
    cx = min(max(x, m + r), 1 - m - r)
    cy = min(max(y, m + r), 1 - m - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r and m <= x <= 1 - m and m <= y <= 1 - m


def ring(x, y, cx=0.5, cy=0.5, r=0.30, t=0.035):
    d = math.hypot(x - cx, y - cy)
    return abs(d - r) <= t / 2


def axes(x, y, t=0.022):
    inner = 0.14 <= x <= 0.86 and 0.14 <= y <= 0.86
    return inner and (abs(x - 0.5) <= t / 2 or abs(y - 0.5) <= t / 2)


def wave(x, y, t=0.05):
    # One period of a sine across the circle: the I/Q picture of a carrier.
    if not 0.2 <= x <= 0.8:
        return False
    yy = 0.5 - 0.22 * math.sin((x - 0.2) / 0.6 * 2 * math.pi)
    return abs(y - yy) <= t / 2


def dot(x, y, cx=0.5 + 0.30 * math.cos(-math.pi / 4), cy=0.5 + 0.30 * math.sin(-math.pi / 4), r=0.075):
    return math.hypot(x - cx, y - cy) <= r


def arrow(x, y):
    # Downward triangle with a little margin.
    top, bottom = 0.2, 0.8
    if not top <= y <= bottom:
        return False
    half = 0.42 * (bottom - y) / (bottom - top)
    return abs(x - 0.5) <= half


def main():
    here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "images")
    os.makedirs(here, exist_ok=True)
    icon = [(BLUE, rounded_square), (WHITE, axes), (WHITE, ring), (ORANGE, wave), (ORANGE, dot)]
    png(os.path.join(here, "orvex.png"), 64, 64, render(64, 64, icon))
    png(os.path.join(here, "arrow.png"), 12, 8, render(12, 8, [(GREY, arrow)]))


if __name__ == "__main__":
    main()
