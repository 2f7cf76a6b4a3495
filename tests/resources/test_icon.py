"""Icon replacement on the real stub under wine, checked afterwards on Linux
with a PE reader nobody here wrote (icoutils' wrestool): the stub's own icon
group, the icon images written for icons of 1, 10 and 12 images, a package
written by builder mode, and the refusals that must leave the executable byte
for byte as it was."""
import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import winrun  # noqa: E402

RT_ICON, RT_GROUP_ICON = 3, 14
ENGLISH_US = 1033
args = None


def wrestool(*argv):
    return subprocess.run([args.wrestool, *argv], capture_output=True, check=True).stdout


def resources(exe):
    """Every resource of the executable as (type, name, language) -> bytes."""
    found = {}
    for line in wrestool("-l", exe).decode().splitlines():
        m = re.match(r"--type=(\d+) --name=(\d+) --language=(\d+) ", line)
        if not m:
            raise AssertionError("unexpected wrestool line: " + line)
        key = tuple(int(g) for g in m.groups())
        found[key] = wrestool("-x", "--raw", "-t", str(key[0]), "-n", str(key[1]), "-L", str(key[2]), exe)
    return found


def icons(found):
    return {name: data for (kind, name, lang), data in found.items() if kind == RT_ICON}


def group_directory(data):
    """The entries of an icon group directory: (width, height, bytes, image id)."""
    _, _, count = struct.unpack_from("<HHH", data)
    entries = [struct.unpack_from("<BBBBHHIH", data, 6 + 14 * i) for i in range(count)]
    return [(w or 256, h or 256, size, ident) for w, h, _, _, _, _, size, ident in entries]


def icon_file(images):
    """An .ico file holding the given image data blocks in order."""
    offset = 6 + 16 * len(images)
    directory = struct.pack("<HHH", 0, 1, len(images))
    for i, data in enumerate(images):
        directory += struct.pack("<BBBBHHII", 16 + i, 16 + i, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return directory + b"".join(images)


def distinct_images(count):
    """Image blocks that differ from each other in content and in length."""
    return [(b"image %02d " % i) * (10 + 7 * i) for i in range(count)]


class IconReplacement(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="icon-", dir=args.build)
        self.exe = os.path.join(self.dir, "target.exe")
        shutil.copyfile(args.stub, self.exe)
        with open(self.exe, "rb") as f:
            self.original = f.read()

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def seticon(self, icon_bytes, name="icon.ico"):
        if icon_bytes is not None:
            with open(os.path.join(self.dir, name), "wb") as f:
                f.write(icon_bytes)
        result = winrun.run([args.wine_run, args.build, args.seticon, name, "target.exe"], cwd=self.dir, timeout=30)
        return result.returncode, result.stdout.replace(b"\r\n", b"\n").decode("utf-8", "replace")

    def test_stub_group_refers_to_nine_images_of_different_sizes(self):
        found = resources(args.stub)
        groups = [data for (kind, _, _), data in found.items() if kind == RT_GROUP_ICON]
        self.assertEqual(len(groups), 1)
        directory = group_directory(groups[0])
        self.assertEqual([ident for *_, ident in directory], list(range(1, 10)))
        sides = [w for w, h, _, _ in directory]
        self.assertEqual(len(set(sides)), 9)
        self.assertEqual((min(sides), max(sides)), (16, 256))
        images = icons(found)
        self.assertEqual(sorted(images), list(range(1, 10)))
        for w, h, size, ident in directory:
            self.assertEqual(w, h)
            self.assertEqual(len(images[ident]), size)
        self.assertTrue(all(lang == ENGLISH_US for (kind, _, lang) in found if kind == RT_ICON))

    def test_icon_images_written_for_1_10_and_12_images(self):
        # n images give identifiers 1..n, then |10 - n| copies of the last.
        for count, last_id in [(1, 10), (10, 10), (12, 14)]:
            with self.subTest(images=count):
                shutil.copyfile(args.stub, self.exe)
                images = distinct_images(count)
                code, out = self.seticon(icon_file(images))
                self.assertEqual((code, out), (0, ""))
                before, after = resources(args.stub), resources(self.exe)
                expected = {i: images[min(i, count) - 1] for i in range(1, last_id + 1)}
                self.assertEqual(icons(after), expected)
                self.assertEqual({k for k in after if k[0] == RT_ICON},
                                 {(RT_ICON, i, ENGLISH_US) for i in expected})
                # Everything else, the icon group included, is as it was.
                self.assertEqual({k: v for k, v in after.items() if k[0] != RT_ICON},
                                 {k: v for k, v in before.items() if k[0] != RT_ICON})

    def test_refusals_leave_the_executable_unchanged(self):
        two = icon_file(distinct_images(2))
        cases = [
            ("missing icon file", None, "Open IconFile Failed!\n"),
            ("empty file", b"", "Bad IconFile: the icon file holds no images\n"),
            ("idCount 0", struct.pack("<HHH", 0, 1, 0) + two[6:], "Bad IconFile: the icon file holds no images\n"),
            ("idCount the file cannot hold", struct.pack("<HHH", 0, 1, 40) + two[6:],
             "Bad IconFile: the icon file is too short for its 40 entries\n"),
            ("image beyond the end", two[:-1], "Bad IconFile: image 2 lies beyond the end of the icon file\n"),
            ("dwBytesInRes larger than the file", two[:14] + struct.pack("<I", 1 << 31) + two[18:],
             "Bad IconFile: image 1 lies beyond the end of the icon file\n"),
        ]
        for what, icon_bytes, message in cases:
            with self.subTest(what):
                code, out = self.seticon(icon_bytes, name="case.ico")
                self.assertEqual((code, out), (1, message))
                with open(self.exe, "rb") as f:
                    self.assertTrue(f.read() == self.original, "the executable changed")
                if os.path.exists(os.path.join(self.dir, "case.ico")):
                    os.remove(os.path.join(self.dir, "case.ico"))

    def test_package_from_builder_mode_shows_the_loader_icon(self):
        # The bare stub in builder mode gives "install_test.exe" the images of
        # "setup/LoaderIcon.ico"; the group directory it keeps from the stub
        # then leads only to images of the new icon.
        images = distinct_images(3)
        os.makedirs(os.path.join(self.dir, "setup"))
        os.makedirs(os.path.join(self.dir, "app"))
        with open(os.path.join(self.dir, "setup", "LoaderIcon.ico"), "wb") as f:
            f.write(icon_file(images))
        env = dict(os.environ, KELVANE_TEMP_DIR=os.path.join(self.dir, "temp"))
        result = winrun.run([args.wine_run, args.build, args.stub], cwd=self.dir, env=env, timeout=60)
        self.assertEqual(result.returncode, 0, result.stdout.decode("utf-8", "replace"))
        found = resources(os.path.join(self.dir, "install_test.exe"))
        groups = [data for (kind, _, _), data in found.items() if kind == RT_GROUP_ICON]
        self.assertEqual(groups, [data for (kind, _, _), data in resources(args.stub).items()
                                  if kind == RT_GROUP_ICON])
        written = icons(found)
        for *_, ident in group_directory(groups[0]):
            self.assertIn(written.get(ident), images, "group entry %d" % ident)
        self.assertEqual(written, {i: images[min(i, 3) - 1] for i in range(1, 11)})

    def test_false_when_the_executable_cannot_be_updated(self):
        os.remove(self.exe)
        code, out = self.seticon(icon_file(distinct_images(1)))
        self.assertEqual(code, 1)
        self.assertTrue(out.startswith("Replace ExeIcon Failed: "), out)
        self.assertFalse(os.path.exists(self.exe))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for name in ["build", "stub", "seticon", "wine-run"]:
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--wrestool", default=shutil.which("wrestool"))
    args, rest = parser.parse_known_args()
    if not args.wrestool:
        sys.exit("wrestool is missing: run scripts/install-deps.sh (icoutils)")
    unittest.main(argv=[sys.argv[0], "-v", *rest])
