"""The splash on a real X screen (the session's Xvfb, white root window),
in screenshots of the screen's frame buffer: a 580 x 54 window centred on the screen, the
faded panel darker than the root with rounded corners lighter than its
middle, and the bar in row 25 from x = 40 to x = 540 with its highlight
moving. Shown twice: by a stand-in for the loader window that keeps the
splash up undisturbed, and by the real program while it installs a package.
Each first screenshot is kept as a PNG beside the test."""
import argparse
import os
import shutil
import tempfile
import struct
import subprocess
import sys
import time
import unittest
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import winrun  # noqa: E402

args = None
# Time limits of the wine programs run here; the CTest test's limit covers
# their sum.
PROGRAM_TIMEOUT = 60


def session_env():
    """The wine session's variables (WINEPREFIX, DISPLAY, ...) as a dict."""
    out = subprocess.run(["bash", "-c", 'source "$1/wine-env.sh" && env -0', "-", args.build],
                         capture_output=True, check=True).stdout
    pairs = (item.split(b"=", 1) for item in out.split(b"\0") if b"=" in item)
    return {key.decode(): value.decode() for key, value in pairs}


def read_xwd(data, lines=None):
    """(width, height, rows of (r, g, b)) of a ZPixmap xwd dump in true colour;
    with lines, only those rows are decoded, as a dict by row number."""
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

    def row(y):
        line = pixels[y * bytes_per_line:y * bytes_per_line + width * step]
        values = [int.from_bytes(line[i:i + step], order) for i in range(0, len(line), step)]
        return [(channel(v, red_mask), channel(v, green_mask), channel(v, blue_mask)) for v in values]

    if lines is not None:
        return width, height, {y: row(y) for y in lines}
    return width, height, [row(y) for y in range(height)]


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


def shoot(env):
    """The screen as an xwd dump, read from the file that the session's Xvfb
    keeps its frame buffer in. Not `xwd -root`: with windows of several
    visuals on the screen (the splash is a layered 32-bit window) xwd reads
    window by window, and fails with BadDrawable when any window, the
    program's or wine's own, goes away meanwhile."""
    with open(os.path.join(args.build, "xvfb-fb", "Xvfb_screen0"), "rb") as f:
        return f.read()


def wait_for(proc, found, what):
    """found()'s first true result, asked for while the program runs: the
    program's own time limit bounds the wait."""
    while proc.running():
        result = found()
        if result:
            return result
        time.sleep(0.1)
    raise AssertionError("%s: the program ended first (exit code %s)\n%s" % (
        what, proc.returncode, (proc.stdout + proc.stderr).decode("utf-8", "replace")[-3000:]))


def find_window(env, proc, name):
    """The first visible window called name; the program must still run."""
    def visible():
        return subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name], env=env,
                              capture_output=True, text=True).stdout.split()[:1]

    return wait_for(proc, visible, "no visible window called %s" % name)[0]


def shots_of_playing_bar(env, proc, bar_row):
    """Two screenshots taken after the window has been painted in full, the
    bar's row different between them. The window's drawing reaches the
    screen when it is flushed, not when it is drawn: a first change of the
    bar proves a flush since the fade, the second change gives the pair."""
    shots = [shoot(env)]

    def bar_moved():
        shot = shoot(env)
        moved = read_xwd(shot, [bar_row])[2] != read_xwd(shots[-1], [bar_row])[2]
        shots.append(shot)
        return moved

    wait_for(proc, bar_moved, "the highlight did not move")
    del shots[:-1]
    wait_for(proc, bar_moved, "the highlight did not move")
    return shots[-2:]


def geometry(env, window):
    out = subprocess.run(["xdotool", "getwindowgeometry", "--shell", window], env=env, capture_output=True,
                         text=True, check=True).stdout
    place = dict(line.split("=", 1) for line in out.split())
    return int(place["X"]), int(place["Y"]), int(place["WIDTH"]), int(place["HEIGHT"])


def press_ok(env, box, tries=20):
    """Presses OK on a message box until it is gone."""
    for _ in range(tries):
        winrun.press_ok(box, env)
        time.sleep(0.5)
        if box not in subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Warnning$"], env=env,
                                     capture_output=True, text=True).stdout.split():
            return
    raise AssertionError("the message box stays after %d presses" % tries)


def package_with_wrong_digest(test, env, folder):
    """Builds a package in `folder` with the stub and spoils its stored
    app digest, so that the loader's window stays up with its "Warnning"
    box until OK is pressed. Returns the package and the environment to
    run it in (a temporary folder of its own)."""
    for name, data in [("app/readme.txt", b"app"), ("setup/config.xml", b"<config><source path=''/></config>"),
                       ("setup/qSetup.exe", open(args.setup, "rb").read())]:
        os.makedirs(os.path.dirname(os.path.join(folder, name)), exist_ok=True)
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    run_env = dict(env, KELVANE_TEMP_DIR=os.path.join(folder, "temp"))
    built = winrun.run([args.wine_run, args.build, args.stub], cwd=folder, env=run_env, timeout=PROGRAM_TIMEOUT)
    package = os.path.join(folder, "install_test.exe")
    test.assertTrue(os.path.isfile(package), built.stdout.decode("utf-8", "replace"))
    with open(package, "r+b") as f:
        f.seek(-32, os.SEEK_END)
        first = f.read(1)
        f.seek(-32, os.SEEK_END)
        f.write(bytes((first[0] ^ 1,)))
    return package, run_env


class Screen(unittest.TestCase):
    def check_splash(self, place, shots, png, hidden=None):
        """The splash in two screenshots; `hidden` is a screen rectangle
        (x, y, width, height) covered by another window, left out."""
        width, height, rows = read_xwd(shots[0])
        write_png(png, width, height, rows)

        def visible(x, y):
            return not hidden or not (hidden[0] <= x < hidden[0] + hidden[2] and hidden[1] <= y < hidden[1] + hidden[3])

        left, top, w, h = place
        _, _, later = read_xwd(shots[1], [top + 25])
        self.assertEqual((w, h), (580, 54))
        self.assertEqual((left, top), ((width - 580) // 2, (height - 54) // 2))

        white = (255, 255, 255)
        for x, y in [(left - 3, top + 27), (left + 583, top + 27), (left + 20, top - 3), (left + 20, top + 57)]:
            self.assertEqual(rows[y][x], white, "root window at %d,%d" % (x, y))
        middles = [rows[top + 40][left + x] for x in (30, 290, 549) if visible(left + x, top + 40)]
        self.assertTrue(middles)
        for middle in middles:
            self.assertTrue(all(40 < c < 200 for c in middle), middle)
        for x, y in [(left, top), (left + 579, top), (left, top + 53), (left + 579, top + 53)]:
            self.assertGreater(sum(rows[y][x]), sum(middles[0]) + 150, "corner %d,%d" % (x, y))

        bar, span = rows[top + 25], [x for x in range(left + 40, left + 540) if visible(x, top + 25)]
        self.assertGreaterEqual(sum(bluish(bar[x]) for x in span), len(span) - 10)
        self.assertFalse(bluish(bar[left + 38]) or bluish(bar[left + 541]))
        self.assertFalse(any(bluish(rows[top + 23][x]) for x in span))
        moved = [x for x in span if bar[x] != later[top + 25][x]]
        self.assertTrue(moved, "the highlight did not move")

    def test_stand_in_window(self):
        env = session_env()
        # A program that does not end is killed on leaving the block, so that
        # no window of it is left on the shared screen for the tests that follow.
        with winrun.Program([args.wine_run, args.build, args.program, "10000"], env=env,
                            timeout=PROGRAM_TIMEOUT) as proc:
            wait_for(proc, lambda: b"shown" in proc.stdout, "the window was not shown")
            place = geometry(env, find_window(env, proc, "^Kelvane$"))
            shots = shots_of_playing_bar(env, proc, place[1] + 25)
            proc.wait()
        self.assertEqual(proc.returncode, 0, proc.stderr.decode("utf-8", "replace"))
        self.check_splash(place, shots, args.shot)

    def test_loader_installing_a_package(self):
        # A package whose stored app digest cannot match: the loader's window
        # stays up with its "Warnning" box until OK is pressed.
        env = session_env()
        folder = tempfile.mkdtemp(prefix="splash-screen-", dir=args.build)
        try:
            package, run_env = package_with_wrong_digest(self, env, folder)
            with winrun.Program([args.wine_run, args.build, package], cwd=folder, env=run_env,
                                timeout=PROGRAM_TIMEOUT) as proc:
                # The box comes up once the window is shown and faded in.
                box = find_window(env, proc, "^Warnning$")
                place = geometry(env, find_window(env, proc, "^Kelvane$"))
                shots = shots_of_playing_bar(env, proc, place[1] + 25)
                covered = geometry(env, box)
                press_ok(env, box)
                proc.wait()
            self.assertEqual(proc.returncode, 0, (proc.stdout + proc.stderr).decode("utf-8", "replace"))
            self.check_splash(place, shots, args.loader_shot, hidden=covered)
        finally:
            shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--program", required=True)
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--stub", required=True, help="the bare stub, kelvane.exe")
    parser.add_argument("--setup", required=True, help="the setup program to put in the package")
    parser.add_argument("--shot", required=True, help="where to keep the stand-in's screenshot as PNG")
    parser.add_argument("--loader-shot", required=True, help="where to keep the loader's screenshot as PNG")
    args, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest)
