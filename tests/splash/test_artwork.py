"""The generated splash pictures, decoded here from their bytes, at every
scale step: the panel PNG and the bar GIF have the properties the player and
the painter rely on, at the sizes the window is scaled to, and the C++ byte
arrays the build compiles hold exactly those bytes."""
import argparse
import math
import os
import re
import struct
import sys
import unittest
import zlib

ART = None

DPIS = range(96, 288 + 1, 24)  # 100 % to 300 % in steps of 25 %
SKY_BLUE = (36, 191, 255)
BRIGHTEST = (3, 250, 255)


def muldiv(value, dpi):
    """value * dpi / 96 rounded as Win32's MulDiv rounds, halves away from zero."""
    return (value * dpi + 48) // 96


def read(name):
    with open(os.path.join(ART, name), "rb") as f:
        return f.read()


# --- a small PNG reader ------------------------------------------------------

def png_chunks(data):
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "PNG signature"
    pos, chunks = 8, []
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        (crc,) = struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])
        assert crc == zlib.crc32(kind + body), "CRC of %s" % kind
        chunks.append((kind, body))
        pos += 12 + length
    return chunks


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    return a if pa <= pb and pa <= pc else b if pb <= pc else c


def png_rgba_rows(data):
    """Rows of (r, g, b, a) tuples of an 8-bit RGBA, non-interlaced PNG."""
    chunks = png_chunks(data)
    width, height = struct.unpack(">II", chunks[0][1][:8])
    raw = zlib.decompress(b"".join(body for kind, body in chunks if kind == b"IDAT"))
    stride, rows, previous = width * 4, [], bytearray(width * 4)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            left = line[i - 4] if i >= 4 else 0
            up, corner = previous[i], previous[i - 4] if i >= 4 else 0
            predictor = [0, left, up, (left + up) // 2, paeth(left, up, corner)][kind]
            line[i] = (line[i] + predictor) & 0xFF
        rows.append([tuple(line[x * 4:x * 4 + 4]) for x in range(width)])
        previous = line
    return rows


# --- a small GIF reader ------------------------------------------------------

def lzw_decode(data, min_code_size, count):
    clear, end = 1 << min_code_size, (1 << min_code_size) + 1
    bits = int.from_bytes(data, "little")
    pos, width, table, previous, out = 0, min_code_size + 1, None, None, []
    while len(out) < count:
        code = (bits >> pos) & ((1 << width) - 1)
        pos += width
        if code == clear:
            table = [[i] for i in range(clear)] + [None, None]
            width, previous = min_code_size + 1, None
            continue
        if code == end:
            break
        if previous is None:
            entry = table[code]
        else:
            entry = table[code] if code < len(table) else previous + previous[:1]
            table.append(previous + entry[:1])
            if len(table) == 1 << width and width < 12:
                width += 1
        out += entry
        previous = entry
    return out


def gif_sub_blocks(data, pos):
    out = bytearray()
    while data[pos]:
        out += data[pos + 1:pos + 1 + data[pos]]
        pos += 1 + data[pos]
    return bytes(out), pos + 1


def parse_gif(data):
    """Header fields, the loop counts found, and the frames in order, each with
    its control extension values, rectangle and palette indices."""
    assert data[:6] == b"GIF89a", "GIF89a signature"
    width, height, flags = struct.unpack("<HHB", data[6:11])
    info = {"width": width, "height": height, "global_table": bool(flags & 0x80),
            "table_size": 2 << (flags & 7), "loops": [], "frames": []}
    palette = [tuple(data[13 + 3 * i:16 + 3 * i]) for i in range(info["table_size"])]
    info["palette"] = palette
    pos, control = 13 + 3 * info["table_size"], None
    while data[pos] != 0x3B:
        if data[pos] == 0x21:
            label = data[pos + 1]
            body, end = gif_sub_blocks(data, pos + 2)
            if label == 0xF9:
                packed, delay, transparent = struct.unpack("<BHB", body)
                control = {"disposal": (packed >> 2) & 7, "has_transparent": bool(packed & 1),
                           "delay": delay, "transparent": transparent}
            elif label == 0xFF and body[:11] == b"NETSCAPE2.0":
                info["loops"].append(struct.unpack("<H", body[12:14])[0])
            pos = end
        elif data[pos] == 0x2C:
            left, top, w, h, flags = struct.unpack("<HHHHB", data[pos + 1:pos + 10])
            assert not flags & 0x80, "no local colour table expected"
            assert not flags & 0x40, "not interlaced"
            min_code_size = data[pos + 10]
            lzw, pos = gif_sub_blocks(data, pos + 11)
            indices = lzw_decode(lzw, min_code_size, w * h)
            info["frames"].append({"control": control, "rect": (left, top, w, h), "indices": indices})
            control = None
        else:
            raise AssertionError("unknown block 0x%02x at %d" % (data[pos], pos))
    return info


def composed_frames(info):
    """The bar as shown after each frame: every frame is left in place and
    its transparent pixels keep what was there."""
    canvas = [[None] * info["width"] for _ in range(info["height"])]
    shown = []
    for frame in info["frames"]:
        left, top, w, h = frame["rect"]
        transparent = frame["control"]["transparent"] if frame["control"]["has_transparent"] else None
        for i, index in enumerate(frame["indices"]):
            if index != transparent:
                canvas[top + i // w][left + i % w] = info["palette"][index]
        shown.append([list(row) for row in canvas])
    return shown


def highlight(row):
    """(first x, last x, x of the brightest pixel) of the non-bar pixels of a row."""
    lit = [x for x, colour in enumerate(row) if colour != SKY_BLUE]
    brightest = [x for x in lit if row[x] == BRIGHTEST]
    return lit[0], lit[-1], brightest


class Panel(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.data = {dpi: read("splash-panel-%d.png" % dpi) for dpi in DPIS}
        cls.rows = {dpi: png_rgba_rows(data) for dpi, data in cls.data.items()}

    def test_header_at_the_scaled_window_size(self):
        for dpi in DPIS:
            with self.subTest(dpi=dpi):
                header = png_chunks(self.data[dpi])[0]
                self.assertEqual(header[0], b"IHDR")
                width, height, depth, colour_type, _, _, interlace = struct.unpack(">IIBBBBB", header[1])
                self.assertEqual((width, height, depth, colour_type, interlace),
                                 (muldiv(580, dpi), muldiv(54, dpi), 8, 6, 0))
                self.assertEqual(png_chunks(self.data[dpi])[-1][0], b"IEND")
        self.assertEqual([(len(self.rows[d][0]), len(self.rows[d])) for d in (120, 144, 192, 288)],
                         [(725, 68), (870, 81), (1160, 108), (1740, 162)])

    def test_black_at_half_opacity_with_transparent_corners(self):
        for dpi in DPIS:
            with self.subTest(dpi=dpi):
                rows, radius = self.rows[dpi], 26 * dpi / 96
                width, height = len(rows[0]), len(rows)
                alphas = {pixel[3] for row in rows for pixel in row}
                self.assertEqual({pixel[:3] for row in rows for pixel in row}, {(0, 0, 0)})
                self.assertEqual(max(alphas), 128)
                self.assertTrue(any(0 < a < 128 for a in alphas), "anti-aliased edge")
                for x, y in [(0, 0), (width - 1, 0), (0, height - 1), (width - 1, height - 1)]:
                    self.assertEqual(rows[y][x][3], 0, (x, y))
                # The straight parts of the rectangle are fully covered.
                for x in range(math.ceil(radius), width - math.ceil(radius)):
                    self.assertEqual({rows[y][x][3] for y in range(height)}, {128}, x)
                self.assertEqual({pixel[3] for pixel in rows[height // 2]}, {128})

    def test_corners_are_mirror_images_with_the_radius_scaled(self):
        for dpi in DPIS:
            with self.subTest(dpi=dpi):
                rows, radius = self.rows[dpi], 26 * dpi / 96
                width, height = len(rows[0]), len(rows)
                for y in range(height):
                    for x in range(math.ceil(radius) + 1):
                        self.assertEqual(rows[y][x][3], rows[height - 1 - y][width - 1 - x][3], (x, y))
                        self.assertEqual(rows[y][x][3], rows[y][width - 1 - x][3], (x, y))
                # On the diagonal a corner of radius r leaves r (1 - 1/sqrt 2) pixels uncovered.
                uncovered = sum(1 for i in range(math.ceil(radius)) if rows[i][i][3] < 64)
                self.assertAlmostEqual(uncovered / (1 - 1 / math.sqrt(2)), radius, delta=2.5)


class Bar(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.info = {dpi: parse_gif(read("splash-bar-%d.gif" % dpi)) for dpi in DPIS}
        cls.shown = {dpi: composed_frames(info) for dpi, info in cls.info.items()}

    def test_screen_table_and_loop(self):
        for dpi, info in self.info.items():
            with self.subTest(dpi=dpi):
                self.assertEqual((info["width"], info["height"]), (muldiv(500, dpi), muldiv(4, dpi)))
                self.assertTrue(info["global_table"])
                self.assertEqual(info["table_size"], 128)
                self.assertEqual(info["loops"], [0])

    def test_frames_timing_disposal_and_transparency(self):
        for dpi, info in self.info.items():
            with self.subTest(dpi=dpi):
                frames = info["frames"]
                self.assertEqual(len(frames), 21)
                for k, frame in enumerate(frames):
                    self.assertEqual(frame["control"],
                                     {"disposal": 1, "has_transparent": True, "delay": 8, "transparent": 87}, k)
                self.assertEqual(frames[0]["rect"], (0, 0, info["width"], info["height"]))
                self.assertNotIn(87, frames[0]["indices"])

    def test_later_frames_paint_only_what_changes(self):
        for dpi, info in self.info.items():
            with self.subTest(dpi=dpi):
                # At most the highlight's width and its longest step (back, in 10 frames).
                half = muldiv(5, dpi)
                longest = 2 * half + 1 + math.ceil((info["width"] - 1 - 2 * half) / 10)
                for k in range(1, 21):
                    left, top, w, h = info["frames"][k]["rect"]
                    self.assertLessEqual(w, longest, k)
                    before = self.shown[dpi][k - 1]
                    for i, index in enumerate(info["frames"][k]["indices"]):
                        if index != 87:
                            x, y = left + i % w, top + i // w
                            self.assertNotEqual(info["palette"][index], before[y][x], (k, x, y))

    def test_every_frame_is_a_whole_sky_blue_bar_with_one_highlight(self):
        for dpi, shown in self.shown.items():
            with self.subTest(dpi=dpi):
                highlight_width = 2 * muldiv(5, dpi) + 1
                for k, canvas in enumerate(shown):
                    self.assertTrue(all(row == canvas[0] for row in canvas), k)
                    row = canvas[0]
                    first, last, brightest = highlight(row)
                    self.assertEqual(len(brightest), 1, k)
                    self.assertIn(last - first + 1, range(highlight_width - 2, highlight_width + 3), k)
                    self.assertEqual(brightest[0] * 2, first + last, k)
                    # Highlight pixels are blends of the two colours, brighter towards the middle.
                    for x in range(first, last + 1):
                        r, g, b = row[x]
                        self.assertTrue(3 <= r <= 36 and 191 <= g <= 250 and b == 255, (k, x, row[x]))
                    greens = [row[x][1] for x in range(first, brightest[0] + 1)]
                    self.assertEqual(greens, sorted(greens), k)

    def test_highlight_sweeps_right_in_11_frames_and_back_in_10(self):
        for dpi, shown in self.shown.items():
            with self.subTest(dpi=dpi):
                width, half = muldiv(500, dpi), muldiv(5, dpi)
                centres = [highlight(canvas[0])[2][0] for canvas in shown]
                self.assertEqual(centres[0], half)
                self.assertEqual(centres[11], width - 1 - half)
                travel = width - 1 - 2 * half
                steps = [b - a for a, b in zip(centres, centres[1:] + centres[:1])]
                self.assertTrue(all(abs(s - travel / 11) <= 1 for s in steps[:11]), steps)
                self.assertTrue(all(abs(s + travel / 10) <= 1 for s in steps[11:]), steps)


class Embedded(unittest.TestCase):
    def test_byte_arrays_and_table_hold_the_pictures(self):
        source = read("splashpictures.cpp").decode()
        for dpi in DPIS:
            for name, picture in [("panel_png_%d" % dpi, "splash-panel-%d.png" % dpi),
                                  ("bar_gif_%d" % dpi, "splash-bar-%d.gif" % dpi)]:
                body = re.search(r"%s\[\] = \{(.*?)\};" % name, source, re.S).group(1)
                array = bytes(int(v, 16) for v in re.findall(r"0x([0-9a-f]{2})", body))
                self.assertEqual(array, read(picture), name)
            self.assertIn("{%d, panel_png_%d, %d, bar_gif_%d, %d}," % (
                dpi, dpi, len(read("splash-panel-%d.png" % dpi)), dpi, len(read("splash-bar-%d.gif" % dpi))), source)
        self.assertIn("picturecount = %d;" % len(DPIS), source)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--art", required=True, help="folder the artwork generator wrote")
    args, rest = parser.parse_known_args()
    ART = args.art
    unittest.main(argv=[sys.argv[0]] + rest)
