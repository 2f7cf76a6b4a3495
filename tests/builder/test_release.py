"""The release: scripts/release.sh makes both archives and SHA256SUMS; the
Linux archive, unpacked into an empty folder outside the build tree, builds
the example package with nothing but what it holds (and the base system's C
library), and that package is byte-identical to the one builder mode writes
under wine from the same folders."""
import argparse
import os
import shutil
import subprocess
import sys
import tarfile
import tempfile
import unittest
import zipfile

SUPPORT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support")
sys.path.insert(0, SUPPORT)
import winrun  # noqa: E402

args = None
# What Debian's base system has for any program: the C library's parts.
BASE_LIBRARIES = {"linux-vdso.so.1", "libc.so.6", "libm.so.6", "ld-linux-x86-64.so.2", "ld-linux-aarch64.so.1"}


class Release(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dist = os.path.join(args.build, "release-dist")
        made = subprocess.run([os.path.join(args.source, "scripts", "release.sh"), cls.dist], capture_output=True,
                              timeout=1500)
        cls.log = made.stdout.decode() + made.stderr.decode()
        assert made.returncode == 0, cls.log
        names = os.listdir(cls.dist)
        cls.linux = os.path.join(cls.dist, next(n for n in names if n.endswith(".tar.gz")))
        cls.windows = os.path.join(cls.dist, next(n for n in names if n.endswith("-windows.zip")))

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="kelvane-release-")  # outside the build tree

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def test_checksums_and_contents(self):
        check = subprocess.run(["sha256sum", "-c", "SHA256SUMS"], cwd=self.dist, capture_output=True, text=True)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
        with zipfile.ZipFile(self.windows) as z:
            names = {n.split("/", 1)[1] for n in z.namelist()}
        for name in ("kelvane.exe", "README.md", "example/setup/qSetup.exe", "example/setup/LoaderIcon.ico",
                     "example/app/readme.txt", "licences/NOTICE", "licences/zlib.copyright",
                     "licences/minizip.copyright"):
            self.assertIn(name, names)

    def test_the_linux_archive_builds_the_example_alone(self):
        with tarfile.open(self.linux) as t:
            t.extractall(self.dir)
        top = os.path.join(self.dir, os.listdir(self.dir)[0])
        kelvane = os.path.join(top, "kelvane")
        ldd = subprocess.run(["ldd", kelvane], capture_output=True, text=True)
        libraries = {line.split()[0].rsplit("/", 1)[-1] for line in ldd.stdout.splitlines() if line.strip()}
        self.assertLessEqual(libraries, BASE_LIBRARIES, ldd.stdout)

        example = os.path.join(top, "example")
        wine_copy = os.path.join(self.dir, "wine")
        shutil.copytree(example, wine_copy)
        native = subprocess.run([kelvane, "build", "example"], cwd=top, env={"PATH": "/usr/bin:/bin"},
                                capture_output=True, timeout=120)
        self.assertEqual(native.returncode, 0, native.stdout + native.stderr)

        env = dict(os.environ, KELVANE_TEMP_DIR=os.path.join(self.dir, "temp"), LC_ALL="C.UTF-8")
        wine = winrun.run([args.wine_run, args.build, os.path.join(top, "kelvane.exe")], cwd=wine_copy, env=env,
                          timeout=120)
        self.assertEqual(wine.returncode, 0, wine.stdout)
        with open(os.path.join(example, "install_test.exe"), "rb") as a, \
                open(os.path.join(wine_copy, "install_test.exe"), "rb") as b:
            self.assertTrue(a.read() == b.read(), "the native and the wine package differ")


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--wine-run", required=True)
    args, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest)
