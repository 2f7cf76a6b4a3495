"""The generated splash pictures, decoded here from their bytes: the panel PNG
and the bar GIF have the properties the player and the painter rely on, and
the C++ byte arrays the build compiles hold exactly those bytes."""
import argparse
import math
import os
import re
import struct
import sys
import unittest
import zlib

ART = None

SKY_BLUE = (36, 191, 255)
BRIGHTEST = (3, 250, 255)


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
        cls.data = read("splash-panel.png")
        cls.rows = png_rgba_rows(cls.data)

    def test_header(self):
        header = png_chunks(self.data)[0]
        self.assertEqual(header[0], b"IHDR")
        width, height, depth, colour_type, compression, filtering, interlace = struct.unpack(">IIBBBBB", header[1])
        self.assertEqual((width, height, depth, colour_type, interlace), (580, 54, 8, 6, 0))
        self.assertEqual(png_chunks(self.data)[-1][0], b"IEND")

    def test_black_at_half_opacity_with_transparent_corners(self):
        alphas = {pixel[3] for row in self.rows for pixel in row}
        self.assertEqual({pixel[:3] for row in self.rows for pixel in row}, {(0, 0, 0)})
        self.assertEqual(max(alphas), 128)
        self.assertTrue(any(0 < a < 128 for a in alphas), "anti-aliased edge")
        for x, y in [(0, 0), (579, 0), (0, 53), (579, 53)]:
            self.assertEqual(self.rows[y][x][3], 0, (x, y))
        # The straight parts of the rectangle are fully covered.
        for x in range(26, 554):
            self.assertEqual({self.rows[y][x][3] for y in range(54)}, {128}, x)
        self.assertEqual({pixel[3] for y in (26, 27) for pixel in self.rows[y]}, {128})

    def test_corners_are_mirror_images_with_radius_about_26(self):
        for y in range(54):
            for x in range(580):
                self.assertEqual(self.rows[y][x][3], self.rows[53 - y][579 - x][3], (x, y))
                self.assertEqual(self.rows[y][x][3], self.rows[y][579 - x][3], (x, y))
        # On the diagonal a corner of radius r leaves r (1 - 1/sqrt 2) pixels uncovered.
        uncovered = sum(1 for i in range(26) if self.rows[i][i][3] < 64)
        self.assertAlmostEqual(uncovered / (1 - 1 / math.sqrt(2)), 26, delta=2)


class Bar(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.info = parse_gif(read("splash-bar.gif"))
        cls.shown = composed_frames(cls.info)

    def test_screen_table_and_loop(self):
        info = self.info
        self.assertEqual((info["width"], info["height"]), (500, 4))
        self.assertTrue(info["global_table"])
        self.assertEqual(info["table_size"], 128)
        self.assertEqual(info["loops"], [0])

    def test_frames_timing_disposal_and_transparency(self):
        frames = self.info["frames"]
        self.assertEqual(len(frames), 21)
        for k, frame in enumerate(frames):
            self.assertEqual(frame["control"], {"disposal": 1, "has_transparent": True, "delay": 8, "transparent": 87}, k)
        self.assertEqual(frames[0]["rect"], (0, 0, 500, 4))
        self.assertNotIn(87, frames[0]["indices"])

    def test_later_frames_paint_only_what_changes(self):
        for k in range(1, 21):
            left, top, w, h = self.info["frames"][k]["rect"]
            self.assertLessEqual(w, 11 + 49, k)
            before = self.shown[k - 1]
            for i, index in enumerate(self.info["frames"][k]["indices"]):
                if index != 87:
                    x, y = left + i % w, top + i // w
                    self.assertNotEqual(self.info["palette"][index], before[y][x], (k, x, y))

    def test_every_frame_is_a_whole_sky_blue_bar_with_one_highlight(self):
        for k, canvas in enumerate(self.shown):
            self.assertTrue(all(row == canvas[0] for row in canvas), k)
            row = canvas[0]
            first, last, brightest = highlight(row)
            self.assertEqual(len(brightest), 1, k)
            self.assertIn(last - first + 1, range(9, 14), k)
            self.assertEqual(brightest[0] * 2, first + last, k)
            # Highlight pixels are blends of the two colours, brighter towards the middle.
            for x in range(first, last + 1):
                r, g, b = row[x]
                self.assertTrue(3 <= r <= 36 and 191 <= g <= 250 and b == 255, (k, x, row[x]))
            greens = [row[x][1] for x in range(first, brightest[0] + 1)]
            self.assertEqual(greens, sorted(greens), k)

    def test_highlight_sweeps_right_in_11_frames_and_back_in_10(self):
        centres = [highlight(canvas[0])[2][0] for canvas in self.shown]
        self.assertLessEqual(centres[0], 6)
        self.assertGreaterEqual(centres[11], 493)
        steps = [b - a for a, b in zip(centres, centres[1:] + centres[:1])]
        self.assertTrue(all(s in (44, 45) for s in steps[:11]), steps)
        self.assertTrue(all(s in (-48, -49) for s in steps[11:]), steps)


class Embedded(unittest.TestCase):
    def test_byte_arrays_hold_the_pictures(self):
        source = read("splashpictures.cpp").decode()
        for name, picture in [("panel_png", "splash-panel.png"), ("bar_gif", "splash-bar.gif")]:
            body = re.search(r"%s\[\] = \{(.*?)\};" % name, source, re.S).group(1)
            array = bytes(int(v, 16) for v in re.findall(r"0x([0-9a-f]{2})", body))
            self.assertEqual(array, read(picture), name)
            self.assertIn("%s_size = %d;" % (name, len(array)), source)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--art", required=True, help="folder the artwork generator wrote")
    args, rest = parser.parse_known_args()
    ART = args.art
    unittest.main(argv=[sys.argv[0]] + rest)
