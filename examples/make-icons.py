#!/usr/bin/env python3
"""Writes the example package's two icon files: setup/LoaderIcon.ico (the
package's own icon) and setup/uninstallicon.ico (the uninstaller's). Each holds
a 32 x 32 and a 16 x 16 image, 32 bits per pixel: a coloured disc on a clear
background. Run again to regenerate them; the output is always the same."""
import os
import struct


def image(size, colour):
    """One icon image: BITMAPINFOHEADER (double height), BGRA rows bottom-up, AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    centre, radius = (size - 1) / 2, size / 2 - 1
    pixels = bytearray()
    for y in range(size):
        for x in range(size):
            inside = (x - centre) ** 2 + (y - centre) ** 2 <= radius ** 2
            pixels += bytes(colour) + b"\xff" if inside else b"\0\0\0\0"
    mask = bytes(((size + 31) // 32) * 4 * size)
    return header + bytes(pixels) + mask


def icon(colour):
    images = [image(size, colour) for size in (32, 16)]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip((32, 16), images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


here = os.path.dirname(os.path.abspath(__file__))
for name, bgr in (("LoaderIcon.ico", (0xc0, 0x70, 0x20)), ("uninstallicon.ico", (0x30, 0x30, 0xd0))):
    with open(os.path.join(here, "setup", name), "wb") as f:
        f.write(icon(bgr))
