#!/usr/bin/env python3
"""Draws the loader window's two splash pictures and embeds them in C++.

    splashart.py OUTDIR

writes OUTDIR/splash-panel.png, OUTDIR/splash-bar.gif and
OUTDIR/splashpictures.cpp (both pictures as constant byte arrays). The output
depends on nothing but this file, so every build makes the same bytes.

The panel: a 580 x 54 rounded rectangle, black at half opacity (alpha 128),
corner radius 26, anti-aliased edges, fully transparent outside the curve;
PNG, 8-bit RGBA (colour type 6), not interlaced.

The bar: 500 x 4, sky blue, with an 11 pixel cyan highlight whose centre
sweeps from the left end to the right end in 11 frames and back in 10; GIF89a,
128-colour global table, 21 frames of 8 hundredths of a second, each left in
place (disposal 1) with transparent index 87, looping for ever. The first
frame paints the whole bar; every later frame paints only the span where the
highlight was or now is, with the pixels that stay the same transparent.
"""
import math
import os
import struct
import sys
import zlib

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

def panel_coverage(x, y):
    """Share of pixel (x, y) inside the rounded rectangle, 0.0 to 1.0."""
    inside = 0
    for sy in range(SUPERSAMPLES):
        for sx in range(SUPERSAMPLES):
            px = x + (sx + 0.5) / SUPERSAMPLES
            py = y + (sy + 0.5) / SUPERSAMPLES
            # Distance beyond the corner circle's centre, per axis (0 on the straight edges).
            dx = max(PANEL_RADIUS - px, px - (PANEL_WIDTH - PANEL_RADIUS), 0)
            dy = max(PANEL_RADIUS - py, py - (PANEL_HEIGHT - PANEL_RADIUS), 0)
            inside += dx * dx + dy * dy <= PANEL_RADIUS * PANEL_RADIUS
    return inside / SUPERSAMPLES ** 2


def panel_rows():
    rows = []
    for y in range(PANEL_HEIGHT):
        row = bytearray()
        for x in range(PANEL_WIDTH):
            row += bytes((0, 0, 0, round(PANEL_ALPHA * panel_coverage(x, y))))
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

def highlight_centres():
    """Centre x of the highlight in each frame: right in 11 steps, back in 10."""
    left, right = HIGHLIGHT_HALF_WIDTH, BAR_WIDTH - 1 - HIGHLIGHT_HALF_WIDTH
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


def bar_row(centre):
    """Palette indices of one row of the bar with the highlight at `centre`:
    a cosine-squared hump, full strength in the middle."""
    row = [0] * BAR_WIDTH
    for d in range(-HIGHLIGHT_HALF_WIDTH, HIGHLIGHT_HALF_WIDTH + 1):
        strength = math.cos(math.pi * d / (2 * (HIGHLIGHT_HALF_WIDTH + 1))) ** 2
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


def gif_frame(left, width, indices):
    control = struct.pack("<BBBBHBB", 0x21, 0xF9, 4, (1 << 2) | 1, FRAME_DELAY, TRANSPARENT_INDEX, 0)
    descriptor = struct.pack("<BHHHHB", 0x2C, left, 0, width, BAR_HEIGHT, 0)  # no local table
    min_code_size = 7  # 128 colours
    return control + descriptor + bytes((min_code_size,)) + sub_blocks(lzw_encode(indices, min_code_size))


def encode_gif():
    centres = highlight_centres()
    screen = struct.pack("<HHBBB", BAR_WIDTH, BAR_HEIGHT, 0x80 | (7 << 4) | 6, 0, 0)  # global table of 2^(6+1)
    table = b"".join(bytes(c) for c in palette())
    loop = b"\x21\xFF\x0bNETSCAPE2.0\x03\x01" + struct.pack("<H", 0) + b"\0"
    frames = [gif_frame(0, BAR_WIDTH, bar_row(centres[0]) * BAR_HEIGHT)]
    for before, now in zip(centres, centres[1:]):
        old, new = bar_row(before), bar_row(now)
        changed = [x for x in range(BAR_WIDTH) if old[x] != new[x]]
        left, right = changed[0], changed[-1] + 1
        row = [new[x] if old[x] != new[x] else TRANSPARENT_INDEX for x in range(left, right)]
        frames.append(gif_frame(left, right - left, row * BAR_HEIGHT))
    return b"GIF89a" + screen + table + loop + b"".join(frames) + b";"


# --- output ----------------------------------------------------------------

def cpp_array(name, data):
    lines = [", ".join("0x%02x" % b for b in data[i:i + 16]) for i in range(0, len(data), 16)]
    return ("extern const unsigned char %s[] = {\n  %s};\nextern const unsigned %s_size = %d;\n"
            % (name, ",\n  ".join(lines), name, len(data)))


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: splashart.py OUTDIR")
    outdir = sys.argv[1]
    os.makedirs(outdir, exist_ok=True)
    panel = encode_png(PANEL_WIDTH, PANEL_HEIGHT, panel_rows())
    bar = encode_gif()
    with open(os.path.join(outdir, "splash-panel.png"), "wb") as f:
        f.write(panel)
    with open(os.path.join(outdir, "splash-bar.gif"), "wb") as f:
        f.write(bar)
    with open(os.path.join(outdir, "splashpictures.cpp"), "w") as f:
        f.write("// Made by tools/splashart.py; do not edit.\n#include \"splash/pictures.h\"\n\n"
                "namespace kelvane::splash {\n\n" + cpp_array("panel_png", panel) + "\n"
                + cpp_array("bar_gif", bar) + "\n}  // namespace kelvane::splash\n")


if __name__ == "__main__":
    main()
