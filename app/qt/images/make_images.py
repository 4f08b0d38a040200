#!/usr/bin/env python3
"""Draws the updater's artwork (banner, button glyphs, window icon) as PNG files.

Run from anywhere; the images are written beside this script. Only the standard
library is used, so the pictures can be remade on any machine with Python 3.
"""
import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def write_png(name, width, height, pixels, alpha):
    """pixels: function (x, y) -> (r, g, b, a); alpha selects RGBA or RGB."""
    rows = bytearray()
    for y in range(height):
        rows.append(0)
        for x in range(width):
            r, g, b, a = (max(0, min(255, int(round(c)))) for c in pixels(x, y))
            rows.extend((r, g, b, a) if alpha else (r, g, b))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 6 if alpha else 2, 0, 0, 0)
    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + chunk(b"IEND", b"")
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(png)


def mix(c1, c2, t):
    return tuple(a + (b - a) * t for a, b in zip(c1, c2))


def coverage(inside, x, y, samples=4):
    """Fraction of pixel (x, y) covered by the shape inside(px, py), by supersampling."""
    hits = 0
    for i in range(samples):
        for j in range(samples):
            if inside(x + (i + 0.5) / samples, y + (j + 0.5) / samples):
                hits += 1
    return hits / (samples * samples)


def ring(cx, cy, r_in, r_out):
    return lambda px, py: r_in <= math.hypot(px - cx, py - cy) <= r_out


def disc(cx, cy, r):
    return lambda px, py: math.hypot(px - cx, py - cy) <= r


def polygon(points):
    def inside(px, py):
        result = False
        j = len(points) - 1
        for i, (xi, yi) in enumerate(points):
            xj, yj = points[j]
            if (yi > py) != (yj > py) and px < (xj - xi) * (py - yi) / (yj - yi) + xi:
                result = not result
            j = i
        return result
    return inside


def thick_line(x1, y1, x2, y2, half_width):
    def inside(px, py):
        dx, dy = x2 - x1, y2 - y1
        t = max(0.0, min(1.0, ((px - x1) * dx + (py - y1) * dy) / (dx * dx + dy * dy)))
        return math.hypot(px - (x1 + t * dx), py - (y1 + t * dy)) <= half_width
    return inside


def layers(background, shapes):
    """shapes: list of (inside, colour) composited in order over background (r, g, b, a)."""
    def pixel(x, y):
        r, g, b, a = background(x, y) if callable(background) else background
        for inside, fill in shapes:
            opacity = coverage(inside, x, y) * (fill[3] if len(fill) == 4 else 255) / 255
            if not opacity:
                continue
            out_a = opacity * 255 + a * (1 - opacity)
            r, g, b = ((f * opacity * 255 + c * a * (1 - opacity)) / out_a for f, c in zip(fill[:3], (r, g, b)))
            a = out_a
        return r, g, b, a
    return pixel


def banner():
    # A deep blue sky over a light horizon, a large ring with a falling arrow: the update arriving.
    w, h = 227, 328
    top, bottom = (12, 44, 110, 255), (86, 170, 226, 255)

    def sky(x, y):
        colour = mix(top, bottom, y / (h - 1))
        stripe = (x + y) % 38 < 3
        return mix(colour, (255, 255, 255, 255), 0.06) if stripe else colour

    cx, cy = 113.5, 130
    arrow = polygon([(103, 82), (124, 82), (124, 128), (142, 128), (113.5, 160), (85, 128), (103, 128)])
    shapes = [
        (disc(cx, cy, 70), (255, 255, 255, 40)),
        (ring(cx, cy, 56, 64), (255, 255, 255, 230)),
        (arrow, (255, 214, 64, 255)),
        (thick_line(70, 182, 157, 182, 4), (255, 255, 255, 230)),
        (polygon([(0, 270), (60, 246), (130, 262), (227, 238), (227, 328), (0, 328)]), (230, 242, 250, 255)),
        (polygon([(0, 292), (80, 276), (160, 290), (227, 280), (227, 328), (0, 328)]), (200, 224, 240, 255)),
    ]
    for i in range(5):
        shapes.append((disc(36 + 38 * i, 226, 3), (255, 255, 255, 200 - 30 * i)))
    write_png("banner.png", w, h, layers(sky, shapes), alpha=False)


def cancel_glyph():
    # 16 x 17, 24 bits: a red disc with a white cross; the bottom-left colour is the transparent key.
    key = (255, 0, 255, 255)
    shapes = [
        (disc(8, 8.5, 7.2), (200, 30, 30)),
        (thick_line(5, 5.5, 11, 11.5, 1.2), (255, 255, 255)),
        (thick_line(11, 5.5, 5, 11.5, 1.2), (255, 255, 255)),
    ]
    pixel = layers(key, shapes)
    write_png("cancel.png", 16, 17, lambda x, y: key if coverage(disc(8, 8.5, 7.2), x, y) < 0.5 else pixel(x, y), alpha=False)


def restart_glyph():
    # 16 x 16, 32 bits with alpha: a green circular arrow.
    clear = (0, 0, 0, 0)

    def arc(px, py):
        d = math.hypot(px - 8, py - 8)
        angle = math.degrees(math.atan2(py - 8, px - 8)) % 360
        return 4.0 <= d <= 6.4 and not (250 <= angle <= 320)
    head = polygon([(9.0, 0.6), (14.2, 3.4), (9.0, 6.6)])
    write_png("restart.png", 16, 16, layers(clear, [(arc, (30, 150, 60)), (head, (30, 150, 60))]), alpha=True)


def close_glyph():
    # 16 x 16, 24 bits: an open door with an arrow leaving it; key colour as for the cancel glyph.
    key = (255, 0, 255, 255)
    shapes = [
        (polygon([(2, 1), (10, 1), (10, 15), (2, 15)]), (120, 78, 40)),
        (polygon([(3, 2), (9, 2), (9, 14), (3, 14)]), (60, 40, 20)),
        (polygon([(3, 2), (8, 3.5), (8, 15.5), (3, 14)]), (170, 120, 66)),
        (disc(7, 9, 0.8), (250, 220, 90)),
        (thick_line(9.5, 8, 13, 8, 0.9), (20, 110, 210)),
        (polygon([(12, 5.2), (15.4, 8), (12, 10.8)]), (20, 110, 210)),
    ]
    write_png("close.png", 16, 16, layers(key, shapes), alpha=False)


def window_icon():
    # 48 x 48, 32 bits: a blue rounded tile with a white arrow into a tray.
    clear = (0, 0, 0, 0)

    def tile(px, py):
        qx = min(max(px, 7), 41)
        qy = min(max(py, 7), 41)
        return math.hypot(px - qx, py - qy) <= 6

    shapes = [
        (tile, (22, 92, 190)),
        (polygon([(20, 9), (28, 9), (28, 24), (35, 24), (24, 35), (13, 24), (20, 24)]), (255, 255, 255)),
        (polygon([(10, 31), (14, 31), (14, 37), (34, 37), (34, 31), (38, 31), (38, 41), (10, 41)]), (255, 214, 64)),
    ]
    write_png("icon.png", 48, 48, layers(clear, shapes), alpha=True)


if __name__ == "__main__":
    banner()
    cancel_glyph()
    restart_glyph()
    close_glyph()
    window_icon()
