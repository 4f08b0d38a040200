#!/usr/bin/env python3
"""Turns the updater's PNG artwork into what a Windows resource script takes.

    make_resources.py IMAGES_DIR OUT_DIR

Bitmaps keep their colour depth: RGB pictures become 24-bit BMP files, RGBA
pictures 32-bit BMP files with their alpha channel. The icon becomes an ICO
file of one 32-bit image with its alpha channel.
Only the standard library is used.
"""
import os
import struct
import sys
import zlib


def read_png(path):
    """Returns (width, height, channels, rows of bytes) of an 8-bit RGB or RGBA PNG."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError(f"{path}: not a PNG file")
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour not in (2, 6) or interlace:
        raise ValueError(f"{path}: only 8-bit non-interlaced RGB or RGBA is supported")
    channels = 3 if colour == 2 else 4
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for x in range(stride):
            left = line[x - channels] if x >= channels else 0
            up = previous[x]
            upper_left = previous[x - channels] if x >= channels else 0
            if kind == 1:
                line[x] = (line[x] + left) & 0xFF
            elif kind == 2:
                line[x] = (line[x] + up) & 0xFF
            elif kind == 3:
                line[x] = (line[x] + (left + up) // 2) & 0xFF
            elif kind == 4:
                p = left + up - upper_left
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - upper_left)
                predictor = left if pa <= pb and pa <= pc else up if pb <= pc else upper_left
                line[x] = (line[x] + predictor) & 0xFF
        rows.append(bytes(line))
        previous = line
    return width, height, channels, rows


def write_bmp(png_path, bmp_path):
    width, height, channels, rows = read_png(png_path)
    bits = 8 * channels
    padded = (width * channels + 3) & ~3
    pixels = bytearray()
    for row in reversed(rows):  # bottom-up
        line = bytearray()
        for x in range(width):
            px = row[x * channels:(x + 1) * channels]
            line += bytes((px[2], px[1], px[0])) + (bytes((px[3],)) if channels == 4 else b"")
        pixels += line + b"\0" * (padded - len(line))
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, len(pixels), 3780, 3780, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    with open(bmp_path, "wb") as f:
        f.write(header + info + pixels)


def write_ico(png_path, ico_path):
    width, height, channels, rows = read_png(png_path)
    pixels = bytearray()
    for row in reversed(rows):  # bottom-up, BGRA
        for x in range(width):
            px = row[x * channels:(x + 1) * channels]
            pixels += bytes((px[2], px[1], px[0], px[3] if channels == 4 else 255))
    mask_stride = ((width + 31) // 32) * 4
    mask = b"\0" * (mask_stride * height)  # all opaque: the alpha channel decides
    info = struct.pack("<IiiHHIIiiII", 40, width, 2 * height, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
    image = info + pixels + mask
    entry = struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(image), 6 + 16)
    with open(ico_path, "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, 1) + entry + image)


def main():
    images, out = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)
    for name in ("banner", "cancel", "restart", "close"):
        write_bmp(os.path.join(images, name + ".png"), os.path.join(out, name + ".bmp"))
    write_ico(os.path.join(images, "icon.png"), os.path.join(out, "icon.ico"))


if __name__ == "__main__":
    main()
