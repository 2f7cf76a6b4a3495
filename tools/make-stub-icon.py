#!/usr/bin/env python3
"""Draws the stub's icon and writes it as an .ico file.

    make-stub-icon.py OUTPUT.ico

The artwork is ours and made here from geometry alone: a rounded blue tile
with a white arrow pointing down into a tray. Nine images, 16 to 256 pixels,
32 bits with alpha; the 256-pixel image is stored as PNG, the others as
bitmaps, as Windows expects. The output depends on nothing but this file, so
every build draws the same bytes.
"""
import struct
import sys
import zlib

SIZES = [16, 20, 24, 32, 40, 48, 64, 128, 256]
TOP = (52, 146, 226)      # tile colour at its upper edge
BOTTOM = (20, 74, 158)    # and at its lower edge
WHITE = (255, 255, 255)


# Signed distances in tile units (the tile is the unit square, y downward):
# negative inside a shape, positive outside.
def rounded_box(x, y, left, top, right, bottom, radius):
    cx, cy = (left + right) / 2, (top + bottom) / 2
    qx = abs(x - cx) - (right - left) / 2 + radius
    qy = abs(y - cy) - (bottom - top) / 2 + radius
    outside = (max(qx, 0.0) ** 2 + max(qy, 0.0) ** 2) ** 0.5
    return outside + min(max(qx, qy), 0.0) - radius


def convex_polygon(x, y, points):
    """Distance to a convex polygon given clockwise (on screen): the largest
    distance past any edge. Exact along the edges, which is what edge
    smoothing needs."""
    d = -1e9
    for (ax, ay), (bx, by) in zip(points, points[1:] + points[:1]):
        ex, ey = bx - ax, by - ay
        length = (ex * ex + ey * ey) ** 0.5
        d = max(d, ((x - ax) * ey - (y - ay) * ex) / length)
    return d


ARROW_HEAD = [(0.25, 0.45), (0.75, 0.45), (0.5, 0.70)]


def tile(x, y):
    return rounded_box(x, y, 0.06, 0.06, 0.94, 0.94, 0.2)


def emblem(x, y):
    shaft = rounded_box(x, y, 0.41, 0.17, 0.59, 0.50, 0.03)
    head = convex_polygon(x, y, ARROW_HEAD)
    tray_floor = rounded_box(x, y, 0.21, 0.74, 0.79, 0.83, 0.03)
    tray_left = rounded_box(x, y, 0.21, 0.58, 0.30, 0.83, 0.03)
    tray_right = rounded_box(x, y, 0.70, 0.58, 0.79, 0.83, 0.03)
    return min(shaft, head, tray_floor, tray_left, tray_right)


def coverage(distance, size):
    """Share of a pixel a shape covers, from its distance at the pixel centre."""
    return min(max(0.5 - distance * size, 0.0), 1.0)


def draw(size):
    """Rows of (r, g, b, a) pixels, top row first, straight (not premultiplied) alpha."""
    rows = []
    for py in range(size):
        y = (py + 0.5) / size
        shade = tuple(round(t + (b - t) * y) for t, b in zip(TOP, BOTTOM))
        row = []
        for px in range(size):
            x = (px + 0.5) / size
            alpha = coverage(tile(x, y), size)
            if alpha == 0.0:
                row.append((0, 0, 0, 0))
                continue
            ink = coverage(emblem(x, y), size)
            rgb = tuple(round(s + (w - s) * ink) for s, w in zip(shade, WHITE))
            row.append(rgb + (round(alpha * 255),))
        rows.append(row)
    return rows


def bitmap(rows):
    """An icon image in bitmap form: header (height doubled for the mask),
    BGRA pixels bottom row first, then the 1-bit mask, set where transparent."""
    size = len(rows)
    mask_stride = (size + 31) // 32 * 4
    pixels = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(mask_stride)
        for px, (_, _, _, a) in enumerate(row):
            if a == 0:
                line[px // 8] |= 0x80 >> (px % 8)
        mask += line
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
    return header + pixels + bytes(mask)


def png(rows):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    size = len(rows)
    raw = b"".join(b"\0" + b"".join(bytes(p) for p in row) for row in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def icon_file(images):
    """images: list of (size, bytes). The .ico directory followed by the images."""
    offset = 6 + 16 * len(images)
    directory = struct.pack("<HHH", 0, 1, len(images))
    for size, data in images:
        side = size if size < 256 else 0  # a byte: 0 stands for 256
        directory += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return directory + b"".join(data for _, data in images)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make-stub-icon.py OUTPUT.ico")
    images = []
    for size in SIZES:
        rows = draw(size)
        images.append((size, png(rows) if size >= 256 else bitmap(rows)))
    with open(sys.argv[1], "wb") as out:
        out.write(icon_file(images))


if __name__ == "__main__":
    main()
