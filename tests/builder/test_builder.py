"""Builder mode end to end under wine: the real stub turns "app" and "setup"
into install_test.exe; the trailer, ranges and digests are checked here, the
archives with Info-ZIP's unzip and Python's zipfile, and the reader (the
extract tool, which reads a package as the extraction worker does) gets every
setup file back, also from an archive that Info-ZIP's zip wrote. Packages are
the same bytes whatever file system holds the folders and however many
processors the builder may use."""
import argparse
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zipfile

SUPPORT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support")
sys.path.insert(0, SUPPORT)
import peimage  # noqa: E402
import pecheck  # noqa: E402
import winrun  # noqa: E402

args = None
SHORTDISK = os.path.join(SUPPORT, "shortdisk.sh")
BLOCK = 1 << 20  # the writer cuts files into blocks of this size


def mixed(size):
    """Noise that repeats within deflate's window, and text: compressible, but
    only with the 32 KiB before each block."""
    stretch, text = os.urandom(20000), b"a line of text, and another one\n" * 700
    data = b""
    while len(data) < size:
        data += stretch * 8 + text
    return data[:size]

SETUP = {
    "setup/qSetup.exe": os.urandom(100000),
    "setup/config.xml": b'<?xml version="1.0"?><root><source path=""/></root>',
    "setup/LoaderIcon.ico": b"not really an icon",
    "setup/empty.txt": b"",
    "setup/.hidden": b"dot name",
    "setup/caf\u00e9 \u00dcber.txt": b"code page 1252 holds these",
    "setup/lib/a/b/deep.bin": os.urandom(5000),
    "setup/lib/.cfg": b"x" * 40000,
    "setup/lib/several blocks.bin": mixed(3 * BLOCK + 777),
    "setup/lib/one block.bin": mixed(BLOCK),
}
APP = {
    "app/customData.ini": b"[app]\nkey=value\n",
    "app/data/big.bin": os.urandom(200000),
    "app/data/empty": b"",
}
EMPTY_FOLDERS = ["setup/nothing", "setup/lib/void/deeper", "app/none"]


def sampled_digest(data):
    step = len(data) // 9
    if step >= 4096:
        data = b"".join(data[i * step:i * step + 4096] for i in range(8)) + data[-4096:]
    return hashlib.md5(data).hexdigest()


def make_tree(root, files, folders=()):
    for name, data in files.items():
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    for folder in folders:
        os.makedirs(os.path.join(root, folder), exist_ok=True)


def stored_name(info):
    # Names without the UTF-8 flag are decoded as code page 437 by zipfile;
    # the builder stores them in its ANSI code page, 1252 in these runs.
    return info.filename.encode("cp437").decode("cp1252")


def trailer(package):
    setup_offset, setup_digest, app_offset, app_digest = peimage.read_trailer(package)
    return setup_offset, setup_digest.decode(), app_offset, app_digest.decode()


class BuilderCase(unittest.TestCase):
    """A scratch folder with a working folder, and the programs run under wine in it."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="builder-", dir=args.build)
        self.temp = os.path.join(self.dir, "temp")
        self.work = os.path.join(self.dir, "work")
        os.makedirs(self.work)

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def run_wine(self, program, *argv, cwd=None, prefix=()):
        env = dict(os.environ, KELVANE_TEMP_DIR=self.temp, LC_ALL="C.UTF-8")
        result = winrun.run([*prefix, args.wine_run, args.build, program, *argv], cwd=cwd or self.work, env=env,
                            timeout=60)
        return result.returncode, result.stdout.decode("cp1252", "replace")

    def build(self, cwd=None, prefix=()):
        return self.run_wine(args.stub, cwd=cwd, prefix=prefix)

    def package(self, folder=None):
        with open(os.path.join(folder or self.work, "install_test.exe"), "rb") as f:
            return f.read()

    def extract(self, package_name, target):
        return self.run_wine(args.extract, package_name, target)

    def assert_tree(self, root, files):
        for name, data in files.items():
            with open(os.path.join(root, name), "rb") as f:
                self.assertEqual(f.read(), data, name)



class Builder(BuilderCase):
    def test_package_layout_archives_and_reader(self):
        make_tree(self.work, {**SETUP, **APP}, EMPTY_FOLDERS)
        code, out = self.build()
        self.assertEqual(code, 0, out)
        package = self.package()
        setup_offset, setup_digest, app_offset, app_digest = trailer(package)
        with open(os.path.join(self.temp, "qlib.zip"), "rb") as f:
            qlib = f.read()
        with open(os.path.join(self.temp, "test.zip"), "rb") as f:
            test = f.read()
        # stub | setup archive | app archive | trailer, with no gaps; the stub
        # piece is the stub's image rewritten, without its zero padding.
        self.assertTrue(0 < setup_offset < 1950720, setup_offset)
        pecheck.loaded(os.path.join(self.work, "install_test.exe"))
        self.assertEqual(package[setup_offset:app_offset], qlib)
        self.assertEqual(package[app_offset:-72], test)
        self.assertEqual(len(package), app_offset + len(test) + 72)
        self.assertEqual(setup_digest, sampled_digest(qlib))
        self.assertEqual(app_digest, sampled_digest(test))
        self.assertGreater(len(test), 36864)  # a sampled digest, not a plain one

        for archive, files in (("qlib.zip", SETUP), ("test.zip", APP)):
            path = os.path.join(self.temp, archive)
            tested = subprocess.run(["unzip", "-t", path], capture_output=True)
            self.assertEqual(tested.returncode, 0, tested.stdout + tested.stderr)
            self.assertIn(b"No errors detected", tested.stdout)
            with zipfile.ZipFile(path) as z:
                self.assertIsNone(z.testzip())
                self.assertEqual(z.comment, b"")
                infos = z.infolist()
                self.assertEqual(sorted(stored_name(i) for i in infos),
                                 sorted(n.replace("/", "\\") for n in files))
                for info in infos:
                    name = stored_name(info)
                    self.assertEqual(info.compress_type, zipfile.ZIP_DEFLATED, name)
                    self.assertEqual(info.flag_bits, 2, name)
                    self.assertEqual(info.create_version, 0, name)
                    self.assertEqual(info.create_system, 0, name)
                    self.assertEqual(info.extract_version, 20, name)
                    self.assertEqual(info.date_time, (1980, 1, 0, 0, 0, 0), name)
                    self.assertEqual(info.extra, b"", name)
                    self.assertEqual(info.comment, b"", name)
                    self.assertEqual(info.external_attr, 0, name)
                    self.assertEqual(z.read(info), files[name.replace("\\", "/")], name)
            # Each local header holds the same fixed fields, without extra fields.
            with open(path, "rb") as f:
                data = f.read()
            for info in infos:
                version, flags, method, time, date = struct.unpack_from("<HHHHH", data, info.header_offset + 4)
                self.assertEqual((version, flags, method, time, date), (20, 2, 8, 0, 0x20), info.filename)
                self.assertEqual(struct.unpack_from("<H", data, info.header_offset + 28)[0], 0, info.filename)

        # The reader gets every setup file back, byte for byte.
        code, out = self.extract("install_test.exe", "target")
        self.assertEqual(code, 0, out)
        self.assertIn("count %d" % len(SETUP), out)
        self.assertIn("setup %s app %s" % (setup_digest, app_digest), out)
        self.assert_tree(os.path.join(self.work, "target"), SETUP)

        # A second build from the same folders gives the same bytes.
        code, out = self.build()
        self.assertEqual(code, 0, out)
        self.assertEqual(self.package(), package)

    def test_reader_reads_an_archive_from_info_zip(self):
        # Info-ZIP stores the Unix names' UTF-8 bytes, not code page 1252: ASCII names only.
        setup = {name: data for name, data in SETUP.items() if name.isascii()}
        make_tree(self.work, setup, EMPTY_FOLDERS)
        # zip -9 writes folder entries and slashes; its local headers carry extra fields.
        subprocess.run(["zip", "-9", "-r", "-q", "setup.zip", "setup"], cwd=self.work, check=True)
        with open(os.path.join(self.work, "setup.zip"), "rb") as f:
            archive = f.read()
        empty = b"PK\x05\x06" + b"\0" * 18
        stub = b"MZ" + b"\0" * 1000
        package = stub + archive + empty + struct.pack(
            "<I32sI32s", len(stub), sampled_digest(archive).encode(), len(stub) + len(archive),
            sampled_digest(empty).encode())
        with open(os.path.join(self.work, "package.exe"), "wb") as f:
            f.write(package)
        code, out = self.extract("package.exe", "target")
        self.assertEqual(code, 0, out)
        self.assert_tree(os.path.join(self.work, "target"), setup)
        for folder in (f for f in EMPTY_FOLDERS if f.startswith("setup/")):
            self.assertTrue(os.path.isdir(os.path.join(self.work, "target", folder)), folder)

    def test_links_to_folders_are_not_followed(self):
        make_tree(self.work, {"setup/a.txt": b"a", "app/b.txt": b"b"})
        outside = os.path.join(self.dir, "outside")
        make_tree(outside, {"secret.txt": b"s"})
        os.symlink("..", os.path.join(self.work, "app", "loop"))  # a cycle
        os.symlink(outside, os.path.join(self.work, "setup", "elsewhere"))
        code, out = self.build()
        self.assertEqual(code, 0, out)
        for archive, names in (("qlib.zip", ["setup\\a.txt"]), ("test.zip", ["app\\b.txt"])):
            with zipfile.ZipFile(os.path.join(self.temp, archive)) as z:
                self.assertEqual([stored_name(i) for i in z.infolist()], names)
        self.assertIn("is a link to a folder: not followed", out)

    def test_missing_folders_give_empty_archives(self):
        code, out = self.build()
        self.assertEqual(code, 0, out)
        self.assertIn("Cannot get handle for file app", out)
        package = self.package()
        setup_offset, setup_digest, app_offset, app_digest = trailer(package)
        self.assertEqual(app_offset - setup_offset, 22)
        self.assertEqual(len(package) - 72 - app_offset, 22)
        self.assertEqual(app_digest, hashlib.md5(package[app_offset:-72]).hexdigest())

    def test_failures_leave_no_package(self):
        cases = [
            ("package cannot be created", lambda: os.makedirs(os.path.join(self.work, "install_test.exe")),
             "Open install_test.exe failed!"),
            ("name outside the code page", lambda: make_tree(self.work, {"setup/\u4e2d.txt": b"x"}),
             "does not fit the archive's code page 1252"),
            # Windows programs under wine see both names of a case-sensitive folder.
            ("names differing only in case", lambda: make_tree(self.work, {"app/Read.txt": b"1", "app/READ.txt": b"2"}),
             "Refused app\\Read.txt: differs only in letter case from READ.txt"),
        ]
        for what, arrange, message in cases:
            with self.subTest(what):
                shutil.rmtree(self.work)
                os.makedirs(self.work)
                arrange()
                code, out = self.build()
                self.assertEqual(code, 255, out)
                self.assertIn(message, out)
                self.assertFalse(os.path.isfile(os.path.join(self.work, "install_test.exe")), out)


class Reproducible(BuilderCase):
    FILES = {
        "app/several blocks.bin": mixed(2 * BLOCK + 5),
        "app/one block.bin": mixed(BLOCK),
        "app/empty": b"",
        "app/Zebra.txt": b"z", "app/apple.txt": b"a", "app/_under": b"_", "app/B/inner.txt": b"i",
        "app/b.txt": b"b", "app/\u00c4rger.txt": b"\u00e4", "app/a/x.txt": b"x",
        "setup/config.xml": b"<root/>", "setup/Lib/z.dll": os.urandom(3000), "setup/lib.txt": b"l",
    }

    def make_copy(self, root, order=None):
        """The tree below root, its files created in `order` (a list of names)."""
        names = order or list(self.FILES)
        for name in names:
            make_tree(root, {name: self.FILES[name]})
        return root

    def test_file_systems_and_processor_counts_give_the_same_package(self):
        ext4 = self.make_copy(os.path.join(self.dir, "ext4"))
        listed = os.listdir(os.path.join(ext4, "app"))
        # tmpfs lists the newest entry first: create the files so that it
        # lists each folder differently from ext4.
        shm = tempfile.mkdtemp(prefix="builder-", dir="/dev/shm")
        self.addCleanup(shutil.rmtree, shm, True)
        order = sorted(self.FILES, key=lambda n: listed.index(n.split("/")[1]) if n.startswith("app/") else 0)
        tmpfs = self.make_copy(shm, order)
        self.assertNotEqual(os.listdir(os.path.join(tmpfs, "app")), listed)

        packages = {}
        for what, folder, prefix in (("ext4", ext4, ()), ("tmpfs", tmpfs, ()),
                                     ("one processor", ext4, ("taskset", "-c", "0"))):
            code, out = self.build(cwd=folder, prefix=prefix)
            self.assertEqual(code, 0, out)
            threads = 1 if prefix else min(len(os.sched_getaffinity(0)), 16)
            self.assertIn("test.zip is compressed on %d threads" % threads, out)
            packages[what] = self.package(folder)
        self.assertEqual(packages["tmpfs"], packages["ext4"])
        self.assertEqual(packages["one processor"], packages["ext4"])

        # Each folder's entries by upper-cased name, a folder's files at its place.
        with zipfile.ZipFile(os.path.join(self.temp, "test.zip")) as z:
            self.assertEqual([stored_name(i) for i in z.infolist()],
                             ["app\\a\\x.txt", "app\\apple.txt", "app\\B\\inner.txt", "app\\b.txt",
                              "app\\empty", "app\\one block.bin", "app\\several blocks.bin", "app\\Zebra.txt",
                              "app\\_under", "app\\\u00c4rger.txt"])

    @unittest.skipUnless(os.geteuid() == 0, "a loop device needs root")
    def test_a_file_that_fails_to_read_halfway_stops_the_build(self):
        # A file of several blocks is read by the builder's main thread, one
        # of less than a block by the worker that compresses it.
        for name, size, readable in (("big.bin", 6 * BLOCK, 3 * BLOCK), ("small.bin", 3 * BLOCK // 4, BLOCK // 4)):
            with self.subTest(name):
                make_tree(self.work, {"setup/config.xml": b"<root/>"})
                app = os.path.join(self.work, "app")
                subprocess.run([SHORTDISK, "mount", app, name, str(size), str(readable)], check=True,
                               stdout=subprocess.DEVNULL)
                try:
                    code, out = self.build()
                finally:
                    subprocess.run([SHORTDISK, "unmount", app], check=True)
                self.assertEqual(code, 255, out)
                self.assertIn("error in reading app\\" + name, out)
                self.assertIn("Build of install_test.exe stopped.", out)
                self.assertFalse(os.path.exists(os.path.join(self.work, "install_test.exe")), out)

if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--stub", required=True)
    parser.add_argument("--extract", required=True)
    parser.add_argument("--wine-run", required=True)
    args, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest)
