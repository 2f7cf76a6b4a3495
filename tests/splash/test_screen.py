"""The splash on a real X screen: the stand-in loader window runs under wine
on the session's Xvfb (white root window); screenshots taken with xwd show a
580 x 54 window centred on the screen, the faded panel darker than the root
with rounded corners lighter than its middle, and the bar in row 25 from
x = 40 to x = 540, its highlight moving. The first screenshot is kept as a
PNG beside the test."""
import argparse
import os
import struct
import subprocess
import sys
import time
import unittest
import zlib

args = None


def session_env():
    """The wine session's variables (WINEPREFIX, DISPLAY, ...) as a dict."""
    out = subprocess.run(["bash", "-c", 'source "$1/wine-env.sh" && env -0', "-", args.build],
                         capture_output=True, check=True).stdout
    pairs = (item.split(b"=", 1) for item in out.split(b"\0") if b"=" in item)
    return {key.decode(): value.decode() for key, value in pairs}


def read_xwd(data):
    """(width, height, rows of (r, g, b)) of a ZPixmap xwd dump in true colour."""
    fields = struct.unpack(">25I", data[:100])
    (header_size, _version, pixmap_format, _depth, width, height, _xoffset, byte_order, _unit, _bit_order, _pad,
     bits_per_pixel, bytes_per_line, _visual, red_mask, green_mask, blue_mask, _bits_rgb, _entries, ncolours) = fields[:20]
    if pixmap_format != 2 or bits_per_pixel not in (24, 32):
        raise ValueError("unsupported xwd: format %d, %d bits per pixel" % (pixmap_format, bits_per_pixel))
    pixels = data[header_size + 12 * ncolours:]
    step, order = bits_per_pixel // 8, "little" if byte_order == 0 else "big"

    def channel(value, mask):
        shift = (mask & -mask).bit_length() - 1
        return ((value & mask) >> shift) * 255 // (mask >> shift)

    rows = []
    for y in range(height):
        line = pixels[y * bytes_per_line:y * bytes_per_line + width * step]
        values = [int.from_bytes(line[i:i + step], order) for i in range(0, len(line), step)]
        rows.append([(channel(v, red_mask), channel(v, green_mask), channel(v, blue_mask)) for v in values])
    return width, height, rows


def write_png(path, width, height, rows):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    raw = b"".join(b"\0" + bytes(c for pixel in row for c in pixel) for row in rows)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(raw, 6)) + chunk(b"IEND", b""))


def bluish(pixel):
    r, g, b = pixel
    return b >= 200 and b > r + 60


def brightest(row, left):
    lit = [x for x in range(left + 40, left + 540) if bluish(row[x])]
    return max(lit, key=lambda x: row[x][1]) if lit else None


class Screen(unittest.TestCase):
    def test_splash_window_on_a_white_screen(self):
        env = session_env()
        proc = subprocess.Popen([args.wine_run, args.build, args.program, "4000"], env=env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        try:
            window = None
            for _ in range(100):
                found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Kelvane$"], env=env,
                                       capture_output=True, text=True).stdout.split()
                if found:
                    window = found[0]
                    break
                time.sleep(0.1)
            self.assertIsNotNone(window, "no visible window called Kelvane")
            geometry = subprocess.run(["xdotool", "getwindowgeometry", "--shell", window], env=env,
                                      capture_output=True, text=True, check=True).stdout
            place = dict(line.split("=", 1) for line in geometry.split())
            time.sleep(1.2)  # the fade takes about 550 ms
            shots = []
            for _ in range(2):
                shots.append(subprocess.run(["xwd", "-root", "-silent"], env=env, capture_output=True,
                                            check=True).stdout)
                time.sleep(0.3)
        finally:
            _, err = proc.communicate(timeout=60)
        self.assertEqual(proc.returncode, 0, err.decode("utf-8", "replace"))

        width, height, rows = read_xwd(shots[0])
        write_png(args.shot, width, height, rows)
        _, _, later = read_xwd(shots[1])

        left, top = int(place["X"]), int(place["Y"])
        self.assertEqual((int(place["WIDTH"]), int(place["HEIGHT"])), (580, 54))
        self.assertEqual((left, top), ((width - 580) // 2, (height - 54) // 2))

        white = (255, 255, 255)
        for x, y in [(left - 3, top + 27), (left + 583, top + 27), (left + 290, top - 3), (left + 290, top + 57)]:
            self.assertEqual(rows[y][x], white, "root window at %d,%d" % (x, y))
        middle = rows[top + 40][left + 290]
        self.assertTrue(all(40 < c < 200 for c in middle), middle)
        for x, y in [(left, top), (left + 579, top), (left, top + 53), (left + 579, top + 53)]:
            self.assertGreater(sum(rows[y][x]), sum(middle) + 150, "corner %d,%d" % (x, y))

        bar = rows[top + 25]
        self.assertGreaterEqual(sum(bluish(bar[x]) for x in range(left + 40, left + 540)), 490)
        self.assertFalse(bluish(bar[left + 38]) or bluish(bar[left + 541]))
        self.assertFalse(any(bluish(rows[top + 23][x]) for x in range(left + 40, left + 540)))
        self.assertNotEqual(brightest(bar, left), brightest(later[top + 25], left), "the highlight did not move")


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--program", required=True)
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--shot", required=True, help="where to keep the screenshot as PNG")
    args, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest)
