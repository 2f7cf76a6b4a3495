#!/usr/bin/env python3
"""Draws the loader window's two splash pictures at every display scale and
embeds them in C++.

    splashart.py OUTDIR

writes, for each DPI of DPIS (100 % to 300 % in steps of 25 %),
OUTDIR/splash-panel-DPI.png and OUTDIR/splash-bar-DPI.gif, and
OUTDIR/splashpictures.cpp with all of them as constant byte arrays and a
table by DPI. The output depends on nothing but this file, so every build
makes the same bytes.

Each picture is drawn for its scale, not stretched: sizes are the 96-DPI
values below multiplied by DPI / 96 and rounded as Win32's MulDiv rounds
(halves away from zero), the same rule the program sizes its window by.

The panel: a 580 x 54 rounded rectangle at 96 DPI, black at half opacity
(alpha 128), corner radius 26 (scaled, not rounded), anti-aliased edges,
fully transparent outside the curve; PNG, 8-bit RGBA (colour type 6), not
interlaced.

The bar: 500 x 4 at 96 DPI, sky blue, with an 11 pixel cyan highlight
(half width 5, scaled) whose centre sweeps from the left end to the right
end in 11 frames and back in 10; GIF89a, 128-colour global table, 21 frames
of 8 hundredths of a second at every scale, each left in place (disposal 1)
with transparent index 87, looping for ever. The first frame paints the
whole bar; every later frame paints only the span where the highlight was or
now is, with the pixels that stay the same transparent.
"""
import math
import os
import struct
import sys
import zlib

DPIS = tuple(range(96, 288 + 1, 24))

PANEL_WIDTH, PANEL_HEIGHT = 580, 54
PANEL_RADIUS = 26
PANEL_ALPHA = 128
SUPERSAMPLES = 5  # per axis, for the anti-aliased corners

BAR_WIDTH, BAR_HEIGHT = 500, 4
BAR_COLOUR = (36, 191, 255)
HIGHLIGHT_COLOUR = (3, 250, 255)
HIGHLIGHT_HALF_WIDTH = 5  # 11 pixels: the centre and five on each side
FRAMES_RIGHT, FRAMES_BACK = 11, 10  # frames spent on each way of the sweep
FRAME_DELAY = 8  # hundredths of a second
PALETTE_SIZE = 128
GRADIENT_LEVELS = 64  # palette entries 0..63: bar colour to highlight colour
TRANSPARENT_INDEX = 87


# --- the panel -------------------------------------------------------------

def muldiv(value, dpi):
    """value * dpi / 96, rounded as Win32's MulDiv rounds (halves away from zero)."""
    return (value * dpi + 48) // 96


def panel_coverage(x, y, width, height, radius):
    """Share of pixel (x, y) inside the rounded rectangle, 0.0 to 1.0."""
    inside = 0
    for sy in range(SUPERSAMPLES):
        for sx in range(SUPERSAMPLES):
            px = x + (sx + 0.5) / SUPERSAMPLES
            py = y + (sy + 0.5) / SUPERSAMPLES
            # Distance beyond the corner circle's centre, per axis (0 on the straight edges).
            dx = max(radius - px, px - (width - radius), 0)
            dy = max(radius - py, py - (height - radius), 0)
            inside += dx * dx + dy * dy <= radius * radius
    return inside / SUPERSAMPLES ** 2


def panel_rows(dpi):
    width, height, radius = muldiv(PANEL_WIDTH, dpi), muldiv(PANEL_HEIGHT, dpi), PANEL_RADIUS * dpi / 96
    assert 2 * radius <= height
    # Only pixels in both a corner's columns and its rows can leave the curve.
    corner = math.ceil(radius)
    rows = []
    for y in range(height):
        row = bytearray()
        in_corner_rows = y < corner or y >= height - corner
        for x in range(width):
            if in_corner_rows and (x < corner or x >= width - corner):
                alpha = round(PANEL_ALPHA * panel_coverage(x, y, width, height, radius))
            else:
                alpha = PANEL_ALPHA
            row += bytes((0, 0, 0, alpha))
        rows.append(bytes(row))
    return rows


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def encode_png(width, height, rows):
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)  # 8-bit RGBA, not interlaced
    raw = b"".join(b"\0" + row for row in rows)  # filter type 0 on every row
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", header) + png_chunk(b"IDAT", zlib.compress(raw, 9))
            + png_chunk(b"IEND", b""))


# --- the bar ---------------------------------------------------------------

def highlight_centres(width, half_width):
    """Centre x of the highlight in each frame: right in 11 steps, back in 10."""
    left, right = half_width, width - 1 - half_width
    travel = right - left
    going = [left + round(travel * k / FRAMES_RIGHT) for k in range(FRAMES_RIGHT + 1)]
    coming = [right - round(travel * k / FRAMES_BACK) for k in range(1, FRAMES_BACK)]
    return going + coming  # the last step back is the wrap to frame 0


def palette():
    """Entries 0..63 blend the bar colour into the highlight colour; the rest
    are unused black, the transparent entry among them."""
    colours = []
    for i in range(PALETTE_SIZE):
        if i < GRADIENT_LEVELS:
            t = i / (GRADIENT_LEVELS - 1)
            colours.append(tuple(round(a + (b - a) * t) for a, b in zip(BAR_COLOUR, HIGHLIGHT_COLOUR)))
        else:
            colours.append((0, 0, 0))
    return colours


def bar_row(centre, width, half_width):
    """Palette indices of one row of the bar with the highlight at `centre`:
    a cosine-squared hump, full strength in the middle."""
    row = [0] * width
    for d in range(-half_width, half_width + 1):
        strength = math.cos(math.pi * d / (2 * (half_width + 1))) ** 2
        row[centre + d] = max(1, round(strength * (GRADIENT_LEVELS - 1)))
    return row


def lzw_encode(indices, min_code_size):
    """GIF's variable-length LZW, codes packed least significant bit first."""
    clear, end = 1 << min_code_size, (1 << min_code_size) + 1
    out, bits, nbits = bytearray(), 0, 0

    def emit(code, width):
        nonlocal bits, nbits
        bits |= code << nbits
        nbits += width
        while nbits >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            nbits -= 8

    def fresh_table():
        return {(i,): i for i in range(clear)}

    table, width, nextcode = fresh_table(), min_code_size + 1, end + 1
    emit(clear, width)
    current = ()
    for index in indices:
        candidate = current + (index,)
        if candidate in table:
            current = candidate
            continue
        emit(table[current], width)
        if nextcode < 4096:
            table[candidate] = nextcode
            if nextcode == 1 << width and width < 12:
                width += 1
            nextcode += 1
        else:
            emit(clear, width)
            table, width, nextcode = fresh_table(), min_code_size + 1, end + 1
        current = (index,)
    if current:
        emit(table[current], width)
    emit(end, width)
    if nbits:
        out.append(bits & 0xFF)
    return bytes(out)


def sub_blocks(data):
    return b"".join(bytes((len(data[i:i + 255]),)) + data[i:i + 255] for i in range(0, len(data), 255)) + b"\0"


def gif_frame(left, width, height, indices):
    control = struct.pack("<BBBBHBB", 0x21, 0xF9, 4, (1 << 2) | 1, FRAME_DELAY, TRANSPARENT_INDEX, 0)
    descriptor = struct.pack("<BHHHHB", 0x2C, left, 0, width, height, 0)  # no local table
    min_code_size = 7  # 128 colours
    return control + descriptor + bytes((min_code_size,)) + sub_blocks(lzw_encode(indices, min_code_size))


def encode_gif(dpi):
    width, height, half_width = muldiv(BAR_WIDTH, dpi), muldiv(BAR_HEIGHT, dpi), muldiv(HIGHLIGHT_HALF_WIDTH, dpi)
    centres = highlight_centres(width, half_width)
    screen = struct.pack("<HHBBB", width, height, 0x80 | (7 << 4) | 6, 0, 0)  # global table of 2^(6+1)
    table = b"".join(bytes(c) for c in palette())
    loop = b"\x21\xFF\x0bNETSCAPE2.0\x03\x01" + struct.pack("<H", 0) + b"\0"
    frames = [gif_frame(0, width, height, bar_row(centres[0], width, half_width) * height)]
    for before, now in zip(centres, centres[1:]):
        old, new = bar_row(before, width, half_width), bar_row(now, width, half_width)
        changed = [x for x in range(width) if old[x] != new[x]]
        left, right = changed[0], changed[-1] + 1
        row = [new[x] if old[x] != new[x] else TRANSPARENT_INDEX for x in range(left, right)]
        frames.append(gif_frame(left, right - left, height, row * height))
    return b"GIF89a" + screen + table + loop + b"".join(frames) + b";"


# --- output ----------------------------------------------------------------

def cpp_array(name, data):
    lines = [", ".join("0x%02x" % b for b in data[i:i + 16]) for i in range(0, len(data), 16)]
    return "const unsigned char %s[] = {\n  %s};\n" % (name, ",\n  ".join(lines))


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: splashart.py OUTDIR")
    outdir = sys.argv[1]
    os.makedirs(outdir, exist_ok=True)
    arrays, table = [], []
    for dpi in DPIS:
        panel = encode_png(muldiv(PANEL_WIDTH, dpi), muldiv(PANEL_HEIGHT, dpi), panel_rows(dpi))
        bar = encode_gif(dpi)
        with open(os.path.join(outdir, "splash-panel-%d.png" % dpi), "wb") as f:
            f.write(panel)
        with open(os.path.join(outdir, "splash-bar-%d.gif" % dpi), "wb") as f:
            f.write(bar)
        arrays += [cpp_array("panel_png_%d" % dpi, panel), cpp_array("bar_gif_%d" % dpi, bar)]
        table.append("  {%d, panel_png_%d, %d, bar_gif_%d, %d}," % (dpi, dpi, len(panel), dpi, len(bar)))
    with open(os.path.join(outdir, "splashpictures.cpp"), "w") as f:
        f.write("// Made by tools/splashart.py; do not edit.\n#include \"splash/pictures.h\"\n\n"
                "namespace kelvane::splash {\n\nnamespace {\n\n" + "\n".join(arrays)
                + "\n}  // namespace\n\nextern const scaledpictures pictures[] = {\n" + "\n".join(table)
                + "\n};\nextern const unsigned picturecount = %d;\n\n}  // namespace kelvane::splash\n" % len(DPIS))


if __name__ == "__main__":
    main()
