"""The splash at display scales 100 % to 300 % under wine, on the session's
Xvfb screen: for each DPI (LogPixels in the prefix, set for these runs only
and set back to 96 after each), the window is 580 x 54 scaled as MulDiv
rounds and centred on the screen; its rounded corners and its bar match the
pictures drawn for that scale, pixel row by pixel row, where the 96-DPI
window stretched to the same size (what Windows does to a program that is
not DPI-aware) does not; the bar moves; the caption sits centred at the top,
taller at each larger scale. The stand-in also follows WM_DPICHANGED, and
the real loader opens at the scaled size with its "Warnning" box. The
screenshots are kept beside the test as splash-scale-DPI.png (the window's
surroundings), splash-scale-moved.png and splash-scale-loader-192.png."""
import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
sys.path.insert(0, HERE)
import winrun  # noqa: E402
import test_artwork  # noqa: E402  (its PNG and GIF readers)
import test_screen  # noqa: E402  (screenshots, windows and waits)
from test_screen import find_window, geometry, read_xwd, session_env, shoot, wait_for, write_png  # noqa: E402

args = None
PROGRAM_TIMEOUT = 60
DPIS = (96, 120, 144, 192, 288)
# Largest difference allowed, per colour channel, between the screen and the
# panel and bar as the pictures for the scale predict them: GDI+ rounds each
# of the fade's eleven steps.
TOLERANCE = 6


def muldiv(value, dpi):
    return (value * dpi + 48) // 96


def f32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def fade_levels():
    """The grey a panel pixel of each alpha (0..255) ends as over white, after
    the fade's eleven single-precision steps."""
    alphas, alpha = [], 0.0
    while alpha <= f32(0.3):
        alphas.append(alpha)
        alpha = f32(alpha + f32(0.03))
    levels = []
    for a in range(256):
        level = 255.0
        for k in alphas:
            level *= 1.0 - k * a / 255.0
        levels.append(level)
    return levels


LEVELS = fade_levels()


def expected_rows(panel_rows, bar_frame, bar_place, numbers):
    """Rows of the window as the screen should show it: the panel faded in
    over the white root, the bar frame (rows of RGB) drawn opaque at its place."""
    x0, y0 = bar_place
    out = {}
    for y in numbers:
        row = [(LEVELS[p[3]],) * 3 for p in panel_rows[y]]
        if y0 <= y < y0 + len(bar_frame):
            row[x0:x0 + len(bar_frame[0])] = bar_frame[y - y0]
        out[y] = row
    return out


def stretched_rows(image, width, height, numbers):
    """Rows of `image` (all its rows, by number) resampled bilinearly to
    width x height, pixel centres onto pixel centres, edges clamped: the
    96-DPI window as Windows stretches it for a program that is not DPI-aware."""
    sh, sw = len(image), len(image[0])
    xs = []
    for x in range(width):
        sx = min(max((x + 0.5) * sw / width - 0.5, 0), sw - 1)
        xs.append((int(sx), min(int(sx) + 1, sw - 1), sx - int(sx)))
    out = {}
    for y in numbers:
        sy = min(max((y + 0.5) * sh / height - 0.5, 0), sh - 1)
        y0, y1, fy = int(sy), min(int(sy) + 1, sh - 1), sy - int(sy)
        top, bottom = image[y0], image[y1]
        out[y] = [tuple((top[x0][c] * (1 - fx) + top[x1][c] * fx) * (1 - fy)
                        + (bottom[x0][c] * (1 - fx) + bottom[x1][c] * fx) * fy for c in range(3))
                  for x0, x1, fx in xs]
    return out


def art(dpi):
    """(panel rows RGBA, bar frames as rows of RGB) drawn for a DPI."""
    panel = test_artwork.png_rgba_rows(test_artwork.read("splash-panel-%d.png" % dpi))
    frames = test_artwork.composed_frames(test_artwork.parse_gif(test_artwork.read("splash-bar-%d.gif" % dpi)))
    return panel, frames


class Rows:
    """What the comparison looks at in a window of a DPI: the rows through
    both left corners (the corner's columns), and the bar's rows with the row
    above and the row below it (the bar's span and two pixels each side)."""

    def __init__(self, dpi, height, bar):
        self.corner, self.bar = muldiv(26, dpi) + 1, bar
        self.bars = list(range(bar[1] - 1, bar[1] + bar[3] + 1))
        # Left of the bar, whose columns start past the corner's.
        self.corners = sorted((set(range(0, self.corner)) | set(range(height - self.corner, height))) - set(self.bars))

    @staticmethod
    def worst(screen, predicted, numbers, columns):
        return max(abs(screen[y][x][c] - predicted[y][x][c]) for y in numbers for x in columns for c in range(3))

    def best(self, screen, predict):
        """The worst difference between the screen and the window predict()
        gives for each bar frame, at the frame that matches best (the corner
        rows do not depend on the frame)."""
        corners = self.worst(screen, predict(0, self.corners), self.corners, range(self.corner))
        span = range(self.bar[0] - 2, self.bar[0] + self.bar[2] + 2)
        bars = min(self.worst(screen, predict(k, self.bars), self.bars, span) for k in range(21))
        return max(corners, bars)


class Scales(unittest.TestCase):
    def set_dpi(self, env, dpi):
        done = winrun.run([args.wine_run, args.build, "reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels",
                           "/t", "REG_DWORD", "/d", str(dpi), "/f"], env=env, timeout=PROGRAM_TIMEOUT)
        self.assertEqual(done.returncode, 0, done.stderr)

    def run_stand_in(self, env, dpi, move_to=None):
        """(window place, two screenshots of the playing bar) of the stand-in
        started at `dpi`, and moved to `move_to` by WM_DPICHANGED if given."""
        # The pointer would show in the frame buffer: out of the way, in the
        # screen's top left corner.
        subprocess.run(["xdotool", "mousemove", "0", "0"], env=env, check=True)
        self.set_dpi(env, dpi)
        try:
            command = [args.wine_run, args.build, args.program, "10000"] + ([str(move_to)] if move_to else [])
            with winrun.Program(command, env=env, timeout=PROGRAM_TIMEOUT) as proc:
                wait_for(proc, lambda: b"moved" in proc.stdout if move_to else b"shown" in proc.stdout,
                         "the window was not shown")
                place = geometry(env, find_window(env, proc, "^Kelvane$"))
                shots = test_screen.shots_of_playing_bar(env, proc, place[1] + muldiv(25, move_to or dpi))
        finally:
            self.set_dpi(env, 96)
        return place, shots

    def check_scaled(self, dpi, place, shots, png):
        left, top, width, height = place
        self.assertEqual((width, height), (muldiv(580, dpi), muldiv(54, dpi)), "scaled as MulDiv rounds")
        screen_width, screen_height, screen = read_xwd(shots[0])
        self.assertEqual((left, top), ((screen_width - width) // 2, (screen_height - height) // 2), "centred")
        window = [row[left:left + width] for row in screen[top:top + height]]
        margin = muldiv(20, dpi)
        write_png(png, width + 2 * margin, height + 2 * margin,
                  [row[left - margin:left + width + margin] for row in screen[top - margin:top + height + margin]])

        bar = (muldiv(40, dpi), muldiv(25, dpi), muldiv(500, dpi), muldiv(4, dpi))
        rows = Rows(dpi, height, bar)
        panel, frames = art(dpi)
        drawn = rows.best(window, lambda k, numbers: expected_rows(panel, frames[k], bar[:2], numbers))
        self.assertLessEqual(drawn, TOLERANCE, "the corners and the bar as drawn for %d DPI" % dpi)
        if dpi != 96:
            panel96, frames96 = art(96)
            whole = [expected_rows(panel96, frame, (40, 25), range(54)) for frame in frames96]
            stretched = rows.best(window, lambda k, numbers: stretched_rows(whole[k], width, height, numbers))
            self.assertGreater(stretched, 3 * TOLERANCE, "a stretched 96-DPI window would pass as well")
            sys.stderr.write("%d DPI: largest difference %d from the pictures for the scale, %d from the 96-DPI window "
                             "stretched\n" % (dpi, drawn, stretched))

        later = read_xwd(shots[1], [top + bar[1]])[2][top + bar[1]][left:left + width]
        self.assertNotEqual(later, window[bar[1]], "the bar moves")
        return window

    def caption_box(self, window, dpi):
        """(left, right, top, bottom) of the caption's light pixels above the bar."""
        corner = muldiv(26, dpi) + 1  # the root shows beyond the rounded corners
        lit = [(x, y) for y in range(muldiv(25, dpi) - 1) for x in range(corner, len(window[y]) - corner)
               if min(window[y][x]) > LEVELS[128] + 60 and not test_screen.bluish(window[y][x])]
        self.assertGreater(len(lit), 20 * dpi // 96, "the caption is drawn at %d DPI" % dpi)
        xs, ys = [x for x, _ in lit], [y for _, y in lit]
        return min(xs), max(xs), min(ys), max(ys)

    def test_stand_in_at_each_scale(self):
        env = session_env()
        heights = []
        for dpi in DPIS:
            with self.subTest(dpi=dpi):
                place, shots = self.run_stand_in(env, dpi)
                window = self.check_scaled(dpi, place, shots, os.path.join(args.shots, "splash-scale-%d.png" % dpi))
                left, right, top, bottom = self.caption_box(window, dpi)
                self.assertAlmostEqual((left + right) / 2, place[2] / 2, delta=muldiv(4, dpi), msg="centred")
                self.assertGreaterEqual(top, muldiv(3, dpi) - 1)
                self.assertLess(bottom, muldiv(25, dpi) - 1, "above the bar")
                heights.append(bottom - top + 1)
        sys.stderr.write("caption heights at %s DPI: %s pixels\n" % (", ".join(map(str, DPIS)), heights))
        self.assertEqual(heights, sorted(set(heights)), "the caption grows with the scale: %s" % heights)
        self.assertGreater(heights[-1], 2.5 * heights[0], heights)

    def test_stand_in_moved_to_a_monitor_of_another_scale(self):
        env = session_env()
        place, shots = self.run_stand_in(env, 96, move_to=144)
        self.check_scaled(144, place, shots, os.path.join(args.shots, "splash-scale-moved.png"))

    def test_loader_at_200_percent(self):
        # A package whose app digest cannot match: the loader's window stays
        # up with its "Warnning" box, the system's own, scaled by wine.
        env = session_env()
        folder = tempfile.mkdtemp(prefix="splash-scale-", dir=args.build)
        try:
            package, run_env = test_screen.package_with_wrong_digest(self, env, folder)
            subprocess.run(["xdotool", "mousemove", "0", "0"], env=env, check=True)
            self.set_dpi(env, 192)
            try:
                with winrun.Program([args.wine_run, args.build, package], cwd=folder, env=run_env,
                                    timeout=PROGRAM_TIMEOUT) as proc:
                    box = find_window(env, proc, "^Warnning$")
                    place = geometry(env, find_window(env, proc, "^Kelvane$"))
                    covered = geometry(env, box)
                    width, height, screen = read_xwd(shoot(env))
                    write_png(os.path.join(args.shots, "splash-scale-loader-192.png"), width, height, screen)
                    test_screen.press_ok(env, box)
                    proc.wait()
            finally:
                self.set_dpi(env, 96)
            self.assertEqual(proc.returncode, 0, (proc.stdout + proc.stderr).decode("utf-8", "replace"))
            self.assertEqual(place[2:], (1160, 108))
            self.assertEqual(place[:2], ((width - 1160) // 2, (height - 108) // 2))
            self.assertTrue(covered[2] > 0 and covered[3] > 0, covered)  # its look: the screenshot kept
        finally:
            shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--program", required=True, help="the stand-in splash window")
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--stub", required=True, help="the bare stub, kelvane.exe")
    parser.add_argument("--setup", required=True, help="the setup program to put in the package")
    parser.add_argument("--art", required=True, help="folder of the generated splash pictures")
    parser.add_argument("--shots", required=True, help="folder to keep the screenshots in")
    args, rest = parser.parse_known_args()
    test_artwork.ART = args.art
    test_screen.args = args
    unittest.main(argv=[sys.argv[0]] + rest)
