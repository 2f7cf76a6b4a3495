"""The same bytes everywhere: builder mode (the stub under wine) and the native
builder command (`kelvane build`, no wine) write byte-identical packages from
the same folders, stub and code page (1252, the wine prefix's ANSI code page).

The native command comes from the native build (build/native/kelvane unless
the CMake cache variable KELVANE_NATIVE_KELVANE names another): build the
native preset before running this suite, as scripts/test.sh does."""
import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

SUPPORT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support")
sys.path.insert(0, SUPPORT)
import winrun  # noqa: E402
from test_builder import make_tree  # noqa: E402  the same folders as the builder tests

args = None


def bitmap_image(size, bits, seed):
    """An icon image as a DIB: header, pixels, AND mask."""
    row = (size * bits + 31) // 32 * 4
    mask_row = (size + 31) // 32 * 4
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, row * size + mask_row * size, 0, 0, 0, 0)
    palette = bytes((seed * 7 + i) % 256 for i in range(4 * (1 << bits))) if bits <= 8 else b""
    pixels = bytes((seed + i * 13) % 256 for i in range(row * size))
    return header + palette + pixels + bytes(mask_row * size)


def png_image(size, seed):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    raw = b"".join(b"\0" + bytes((seed + x * 3 + y) % 256 for x in range(size * 4)) for y in range(size))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def ico(images):
    """An .ico file of (width, bits, data) images, in the order given."""
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries, blobs = b"", b""
    for width, bits, data in images:
        entries += struct.pack("<BBBBHHII", width % 256, width % 256, 0, 0, 1, bits, len(data), offset + len(blobs))
        blobs += data
    return header + entries + blobs


def icon_of(count, png=False, reverse=False):
    sizes = [16, 24, 32, 48, 64, 20, 40, 72, 96, 128, 256, 14][:count]
    images = []
    for i, size in enumerate(sizes):
        if size == 256 and png:
            images.append((size, 32, png_image(size, i)))
        else:
            images.append((size, (4, 8, 32)[i % 3], bitmap_image(size, (4, 8, 32)[i % 3], i)))
    return ico(images[::-1] if reverse else images)


class Identity(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="identity-", dir=args.build)

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def both(self, name, files, folders=()):
        """Builds `files` with builder mode and with the native command; returns both packages."""
        work = os.path.join(self.dir, name)
        make_tree(work, files, folders)
        env = dict(os.environ, KELVANE_TEMP_DIR=os.path.join(self.dir, "temp-" + name), LC_ALL="C.UTF-8")
        wine = winrun.run([args.wine_run, args.build, args.stub], cwd=work, env=env, timeout=120)
        self.assertEqual(wine.returncode, 0, wine.stdout.decode("cp1252", "replace"))
        os.rename(os.path.join(work, "install_test.exe"), os.path.join(self.dir, name + "-wine.exe"))
        native = subprocess.run([args.native, "build", work, "--stub", args.stub, "--output",
                                 os.path.join(self.dir, name + "-native.exe")], capture_output=True, timeout=120)
        self.assertEqual(native.returncode, 0, native.stdout.decode("utf-8", "replace"))
        self.assertFalse(os.path.exists(os.path.join(work, "install_test.exe")))
        packages = []
        for host in ("wine", "native"):
            with open(os.path.join(self.dir, "%s-%s.exe" % (name, host)), "rb") as f:
                packages.append(f.read())
        return packages

    def assert_identical(self, name, files, folders=()):
        wine, native = self.both(name, files, folders)
        if wine != native:
            first = next((i for i, (a, b) in enumerate(zip(wine, native)) if a != b), min(len(wine), len(native)))
            self.fail("%s: packages differ from byte %d (wine %d bytes, native %d bytes)"
                      % (name, first, len(wine), len(native)))

    def test_the_example(self):
        files = {}
        for top in ("app", "setup"):
            for folder, _, names in os.walk(os.path.join(args.example, top)):
                for n in names:
                    path = os.path.join(folder, n)
                    with open(path, "rb") as f:
                        files[os.path.relpath(path, args.example)] = f.read()
        self.assertIn(os.path.join("setup", "qSetup.exe"), files)
        self.assert_identical("example", files)

    def test_names_in_the_code_pages_upper_half(self):
        upper = "".join(chr(c) for c in range(0xA1, 0x100) if chr(c) not in "\u00ad") + "\u20ac\u0160\u0153\u017e\u0178"
        files = {"setup/config.xml": b"<root/>", "setup/LoaderIcon.ico": icon_of(2)}
        for i, c in enumerate(upper):
            files["app/%s%d.txt" % (c, i)] = c.encode("utf-8")
        files.update({"app/caf\u00e9/stra\u00dfe \u20ac.txt": b"x", "app/\u00c9t\u00e9.txt": b"y", "app/Zoo.txt": b"z"})
        self.assert_identical("upper", files)

    def test_an_empty_app(self):
        self.assert_identical("emptyapp", {"setup/config.xml": b"<root/>", "setup/LoaderIcon.ico": icon_of(1)},
                              folders=["app"])

    def test_icons(self):
        cases = {"one": icon_of(1), "ten": icon_of(10), "twelve": icon_of(12), "png256": icon_of(11, png=True),
                 "reversed": icon_of(11, png=True, reverse=True)}
        for name, data in cases.items():
            with self.subTest(name):
                self.assert_identical("icon-" + name, {"setup/LoaderIcon.ico": data, "app/a.txt": b"a"})

    def test_setup_programs_with_and_without_a_version_resource(self):
        with open(args.versioned, "rb") as f:
            versioned = f.read()
        cases = {"versioned": versioned, "plain": b"MZ" + os.urandom(3000)}
        for name, program in cases.items():
            with self.subTest(name):
                self.assert_identical("program-" + name, {"setup/qSetup.exe": program,
                                                          "setup/LoaderIcon.ico": icon_of(2), "app/a.txt": b"a"})


    def test_a_terminal_gets_one_progress_line(self):
        import pty
        work = os.path.join(self.dir, "progress")
        make_tree(work, {"setup/config.xml": b"<root/>", "app/a.txt": b"a" * 3000, "app/b/c.bin": os.urandom(5000)})
        master, slave = pty.openpty()
        native = subprocess.Popen([args.native, "build", work, "--stub", args.stub], stdout=slave, stderr=slave)
        os.close(slave)
        out = b""
        while True:
            try:
                chunk = os.read(master, 65536)
            except OSError:
                break
            if not chunk:
                break
            out += chunk
        os.close(master)
        self.assertEqual(native.wait(timeout=60), 0, out)
        text = out.decode("utf-8", "replace")
        self.assertIn("\r3 of 3 files, 0.0 of 0.0 MB", text)
        self.assertNotIn("filelist", text)  # no line per file
        self.assertNotIn("isLargeFile", text)
        self.assertIn("zipfile", text)      # the other log lines stay


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--stub", required=True)
    parser.add_argument("--native", required=True)
    parser.add_argument("--example", required=True)
    parser.add_argument("--versioned", required=True, help="a setup program with a version resource")
    parser.add_argument("--wine-run", required=True)
    args, rest = parser.parse_known_args()
    if not os.access(args.native, os.X_OK):
        sys.exit("the native kelvane %s is missing: build the native preset first "
                 "(or set KELVANE_NATIVE_KELVANE)" % args.native)
    unittest.main(argv=[sys.argv[0]] + rest)
