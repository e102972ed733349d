#!/usr/bin/env python3
"""Draws res/launcher.ico: a play triangle on a rounded teal tile, at the
sizes Windows shows on a Desktop and in Explorer at today's scalings: 16, 20,
24, 32, 40 and 48 pixels as 32-bit images with alpha, which every Windows
reads, and 64 and 256 as PNG images: only Windows Vista and later show
those sizes, and they read PNG, at a tenth of the bytes. Standard library
only.

Usage: draw_icon.py [OUT.ico [RRGGBB]]; the colour replaces the teal tile."""
import struct
import sys
import zlib
from pathlib import Path

SIZES = [16, 20, 24, 32, 40, 48, 64, 256]
PNG_FROM = 64

TILE = (0x1F, 0x8A, 0x8E)
TRIANGLE = (0xFF, 0xF4, 0xD6)


def coverage(inside, x, y, samples=4):
    """Fraction of pixel (x, y) that inside() covers, by supersampling."""
    hits = sum(inside(x + (i + 0.5) / samples, y + (j + 0.5) / samples)
               for i in range(samples) for j in range(samples))
    return hits / samples ** 2


def pixel(size, x, y, tile_rgb=TILE):
    s = float(size)
    radius = s * 0.22

    def in_tile(px, py):
        cx = min(max(px, radius), s - radius)
        cy = min(max(py, radius), s - radius)
        return (px - cx) ** 2 + (py - cy) ** 2 <= radius ** 2

    def in_triangle(px, py):
        left, top, bottom, tip = s * 0.36, s * 0.26, s * 0.74, s * 0.76
        if px < left or px > tip:
            return False
        half = (bottom - top) / 2 * (tip - px) / (tip - left)
        return abs(py - s / 2) <= half

    tile = coverage(in_tile, x, y)
    mark = coverage(in_triangle, x, y)
    rgb = [round(t * (1 - mark) + m * mark) for t, m in zip(tile_rgb, TRIANGLE)]
    return rgb, round(255 * tile)


def image(size, tile_rgb=TILE):
    """A BITMAPINFOHEADER image: bottom-up BGRA rows, then the AND mask."""
    rows = []
    for y in reversed(range(size)):
        row = b""
        for x in range(size):
            (r, g, b), a = pixel(size, x, y, tile_rgb)
            row += bytes((b, g, r, a))
        rows.append(row)
    mask_stride = ((size + 31) // 32) * 4
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    return header + b"".join(rows) + bytes(mask_stride * size)


def png(size, tile_rgb=TILE):
    """A PNG image: RGBA rows, each with filter byte 0; fixed compression, so
    that the file is the same on every run."""
    raw = b""
    for y in range(size):
        raw += b"\0"
        for x in range(size):
            (r, g, b), a = pixel(size, x, y, tile_rgb)
            raw += bytes((r, g, b, a))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def icon(sizes, tile_rgb=TILE):
    images = [png(s, tile_rgb) if s >= PNG_FROM else image(s, tile_rgb) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


if __name__ == "__main__":
    target = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).with_name("launcher.ico"))
    tile = bytes.fromhex(sys.argv[2]) if len(sys.argv) > 2 else bytes(TILE)
    target.write_bytes(icon(SIZES, tuple(tile)))
