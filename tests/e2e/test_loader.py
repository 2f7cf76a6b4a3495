"""The loader end to end: packages built by the real stub under wine (or, for
damaged and hostile packages, assembled from the stub's bytes here), run under
wine on the session's Xvfb screen with a fake setup program that reports what
it saw. Message boxes are found by their caption with xdotool and dismissed by
pressing Return; their texts come from wine's msgbox trace."""
import argparse
import hashlib
import io
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import peimage  # noqa: E402
import winrun  # noqa: E402

args = None

TRAILER = 72
# Time limits of the programs run here; each CTest test's own limit, set in
# CMakeLists.txt, covers the sum of its runs.
BUILDER_TIMEOUT = 60
LOADER_TIMEOUT = 45


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def sampled_md5(data):
    """The package's sampled digest: nine 4096-byte samples of data of 36864
    bytes or more, the whole data otherwise."""
    step = len(data) // 9
    if step < 4096:
        return hashlib.md5(data).hexdigest()
    h = hashlib.md5()
    for i in range(8):
        h.update(data[i * step:i * step + 4096])
    h.update(data[-4096:])
    return h.hexdigest()


def make_zip(entries):
    """A zip archive of (name, bytes) pairs, deflated; names kept as given."""
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in entries:
            info = zipfile.ZipInfo(name, date_time=(1980, 1, 1, 0, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, data)
    return buffer.getvalue()


def assemble(setup_zip, app_zip, stub=None):
    """stub, setup archive, app archive, then the 72-byte trailer."""
    with open(args.stub, "rb") as f:
        stub = f.read() if stub is None else stub
    setup_offset = len(stub)
    app_offset = setup_offset + len(setup_zip)
    trailer = (struct.pack("<I", setup_offset) + sampled_md5(setup_zip).encode() +
               struct.pack("<I", app_offset) + sampled_md5(app_zip).encode())
    return stub + setup_zip + app_zip + trailer


def sampled_md5_of_file(f, start, length):
    """sampled_md5 of the bytes [start, start + length) of an open file."""
    step = length // 9
    if step < 4096:
        f.seek(start)
        return hashlib.md5(f.read(length)).hexdigest()
    h = hashlib.md5()
    for offset in [i * step for i in range(8)] + [length - 4096]:
        f.seek(start + offset)
        h.update(f.read(4096))
    return h.hexdigest()


def assemble_file(path, setup_zip_path, app_zip):
    """assemble() for a setup archive too large to hold in memory: written to path."""
    with open(args.stub, "rb") as f:
        stub = f.read()
    with open(path, "wb") as out, open(setup_zip_path, "rb") as setup:
        out.write(stub)
        shutil.copyfileobj(setup, out, 1 << 20)
        setup_length = out.tell() - len(stub)
        out.write(app_zip)
    with open(path, "rb") as f:
        setup_digest = sampled_md5_of_file(f, len(stub), setup_length)
    with open(path, "ab") as out:
        out.write(struct.pack("<I", len(stub)) + setup_digest.encode() +
                  struct.pack("<I", len(stub) + setup_length) + sampled_md5(app_zip).encode())


def read_trailer(package):
    setup_offset, _, app_offset, _ = peimage.read_trailer(package)
    return setup_offset, app_offset


def with_byte_changed(package, offset):
    data = bytearray(package)
    data[offset] ^= 0x5a
    return bytes(data)


def ico_images(ico):
    """The image blobs of an .ico file, in directory order."""
    count = struct.unpack("<H", ico[4:6])[0]
    images = []
    for i in range(count):
        size, offset = struct.unpack("<II", ico[6 + 16 * i + 8:6 + 16 * i + 16])
        images.append(ico[offset:offset + size])
    return images


def with_method_and_crc(archive, name, method, crc):
    """The entry `name` of a zip archive marked as stored with `method` and
    with another CRC, in its local header and its directory record."""
    local, central = archive.index(name) - 30, archive.rindex(name) - 46
    data = bytearray(archive)
    data[local + 8:local + 10] = data[central + 10:central + 12] = struct.pack("<H", method)
    data[local + 14:local + 18] = data[central + 16:central + 20] = struct.pack("<I", crc)
    return bytes(data)


def tree(folder):
    """Every file below folder (links not followed) with its bytes."""
    files = {}
    for root, _, names in os.walk(folder):
        for name in names:
            with open(os.path.join(root, name), "rb") as f:
                files[os.path.relpath(os.path.join(root, name), folder)] = f.read()
    return files


def xdotool(*argv):
    result = subprocess.run(["xdotool", *argv], capture_output=True, text=True)
    return result.stdout.split()


def launched(program, *argv, as_user):
    """The command that runs a program through exitcode.exe, which prints the
    program's whole 32-bit exit code (a Linux parent sees only its low 8 bits;
    read it back with exit_code). With as_user the program gets the limited
    token, as a standard user's would; else it runs elevated, wine's default."""
    limited = ["--limited"] if as_user else []
    return [args.wine_run, args.build, args.exitcode, *limited, winpath(program), *argv]


def exit_code(stdout):
    """The exit code exitcode.exe printed last in stdout (text), or None when
    it printed none (it could not start the program)."""
    found = re.findall(r"exit code (\d+)", stdout)
    return int(found[-1]) if found else None


class Run:
    """One run of a program under wine, watched until it ends: message boxes
    captioned "Warnning" are pressed (or handed to on_box instead), and a
    visible "Kelvane" window is noted. With as_user the program runs with the
    limited token, as a standard user's would; else elevated, wine's default.
    returncode is the program's whole exit code (see launched)."""

    def __init__(self, program, *argv, cwd, temp, env=None, timeout=LOADER_TIMEOUT, on_box=None,
                 watch_memory=False, as_user=False):
        environment = dict(os.environ, KELVANE_TEMP_DIR=temp, WINEDEBUG="+msgbox")
        environment.update(env or {})
        for name, value in (env or {}).items():
            if value is None:
                environment.pop(name, None)
        self.window_seen = False
        self.window_seen_at_box = []
        self.peak_kib = 0  # the program's peak resident size, when watched
        pressed = {}  # box window -> when Return was last pressed on it
        with winrun.Program(launched(program, *argv, as_user=as_user), cwd=cwd, env=environment,
                            timeout=timeout) as proc:
            while proc.running():
                if watch_memory:
                    self.peak_kib = max(self.peak_kib, winrun.peak_memory_kib(program),
                                        winrun.peak_memory_kib(winpath(program)))
                if xdotool("search", "--onlyvisible", "--name", "^Kelvane$"):
                    self.window_seen = True
                for box in xdotool("search", "--onlyvisible", "--name", "^Warnning$"):
                    if box not in pressed:
                        self.window_seen_at_box.append(bool(xdotool("search", "--onlyvisible", "--name", "^Kelvane$")))
                        if on_box:
                            on_box(box)
                            pressed[box] = float("inf")  # left to on_box
                            continue
                    elif time.monotonic() - pressed[box] < 1:
                        continue
                    # Pressed again a second later if still there.
                    winrun.press_ok(box)
                    pressed[box] = time.monotonic()
                time.sleep(0.1)
        self.stdout = proc.stdout.decode("utf-8", "replace")
        self.stderr = proc.stderr.decode("utf-8", "replace")
        self.returncode = exit_code(self.stdout)  # the whole 32-bit code: -1 is 0xFFFFFFFF
        # wine traces each box's text: MSGBOX_OnInit L"text"
        self.boxes = re.findall(r'MSGBOX_OnInit L"([^"]*)"', self.stderr)


class LoaderCase(unittest.TestCase):
    """A case folder of its own: the package's folder, its TEMP and an
    outside folder that must stay untouched."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="e2e-", dir=args.build)
        self.temp = os.path.join(self.dir, "temp")
        self.setup_folder = os.path.join(self.temp, "setup")
        self.report = os.path.join(self.dir, "report.json")
        os.makedirs(self.temp)

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def setup_files(self, **extra):
        """The setup folder's files: the fake setup program, its configuration,
        the uninstaller's icon, and a nested data file."""
        with open(args.fakesetup, "rb") as f:
            files = {"qSetup.exe": f.read()}
        files["config.xml"] = b'<?xml version="1.0" encoding="UTF-8"?>\n<setup>\n  <source path="old" />\n  <keep a="1"/>\n</setup>\n'
        with open(args.uninstallicon, "rb") as f:
            files["uninstallicon.ico"] = f.read()
        files["data\\nested\\blob.bin"] = os.urandom(3000)
        files.update(extra)
        return files

    def write_package(self, package, name="install_test.exe", folder=None):
        path = os.path.join(folder or self.dir, name)
        with open(path, "wb") as f:
            f.write(package)
        return path

    def assembled(self, setup=None, app=None):
        setup = self.setup_files() if setup is None else setup
        app = {"app\\readme.txt": b"hello"} if app is None else app
        return assemble(make_zip([("setup\\" + n, d) for n, d in setup.items()]),
                        make_zip(list(app.items())))

    def run_loader(self, package_path, *argv, cwd=None, temp=None, env=None, on_box=None, watch_memory=False,
                   elevated=False):
        """Runs the loader as a standard user, unless elevated: an elevated run
        works in a protected folder of its own, never in %TEMP%\\setup."""
        environment = {"KELVANE_REPORT": winpath(self.report), "KELVANE_EXIT": "7",
                       "KELVANE_MARKER": "marker-\u00e9", "KZQAUTOI": None, "KZQPATHI": None,
                       "KELVANE_BROADCAST": None, "KELVANE_DELAY_MS": None}
        environment.update(env or {})
        return Run(package_path, *argv, cwd=cwd or self.dir, temp=temp or self.temp, env=environment,
                   on_box=on_box, watch_memory=watch_memory, as_user=not elevated)

    def report_seen(self):
        with open(self.report, encoding="utf-8") as f:
            return json.load(f)

    def assert_no_crash(self, run):
        self.assertNotIn("Unhandled exception", run.stderr)
        self.assertNotIn("Unhandled page fault", run.stderr)


def build_with_stub(folder, app, setup):
    """Writes app/ and setup/ into folder and runs the bare stub there: the
    real builder. Returns the package's bytes."""
    for root, files in (("app", app), ("setup", setup)):
        for name, data in files.items():
            path = os.path.join(folder, root, *name.split("\\"))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
    result = winrun.run([args.wine_run, args.build, args.stub], cwd=folder, timeout=BUILDER_TIMEOUT,
                        env=dict(os.environ, KELVANE_TEMP_DIR=os.path.join(folder, "buildtemp")))
    package = os.path.join(folder, "install_test.exe")
    if result.returncode != 0 or not os.path.isfile(package):
        raise AssertionError("the stub built no package:\n" + result.stdout.decode("utf-8", "replace"))
    with open(package, "rb") as f:
        return f.read()


class HappyPath(LoaderCase):
    def test_built_package_installs_and_hands_over(self):
        with open(args.uninstallicon, "rb") as f:
            setup = self.setup_files(**{"LoaderIcon.ico": f.read(), "empty.txt": b""})
        package = build_with_stub(os.path.join(self.dir, "src"), {"app\\readme.txt": b"hello"}, setup)
        path = self.write_package(package)
        run = self.run_loader(path)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertEqual(run.boxes, [])
        seen = self.report_seen()
        self.assertEqual(seen["args"], [])
        self.assertEqual(seen["cwd"].rstrip("\\").lower(), winpath(self.dir).lower())
        self.assertEqual(seen["KELVANE_MARKER"], "marker-\u00e9")
        self.assertIsNone(seen["KZQAUTOI"])
        self.assertIsNone(seen["KZQPATHI"])
        for name, data in setup.items():
            if name == "config.xml":
                continue
            with open(os.path.join(self.setup_folder, *name.split("\\")), "rb") as f:
                self.assertEqual(f.read(), data, name)
        # argv[0] as the loader received it: the full DOS path wine gives.
        config = bytes.fromhex(seen["config_hex"]).decode("utf-8")
        self.assertRegex(config, r'<source path="%s"\s*/>' % re.escape(winpath(path)))
        self.assertIn('<keep a="1"/>', config)
        # The uninstaller: the setup program (which has no icon of its own)
        # with an icon group 1 of exactly uninstallicon.ico's images, as
        # icon images 1 to n.
        uninstaller = os.path.join(self.setup_folder, "uninstall.exe")
        images = ico_images(setup["uninstallicon.ico"])
        group = subprocess.run(["wrestool", "-x", "-R", "-t", "14", "-n", "1", uninstaller],
                               capture_output=True, check=True).stdout
        self.assertEqual(struct.unpack_from("<H", group, 4)[0], len(images))
        for number in range(1, len(images) + 1):
            self.assertEqual(struct.unpack_from("<H", group, 6 + 14 * (number - 1) + 12)[0], number)
            written = subprocess.run(["wrestool", "-x", "-R", "-t", "3", "-n", str(number), uninstaller],
                                     capture_output=True, check=True).stdout
            self.assertEqual(written, images[number - 1], number)

    def test_example_setup_program_installs_the_app_archive(self):
        example = os.path.join(args.build, "example")
        with open(os.path.join(example, "setup", "qSetup.exe"), "rb") as f:
            image = f.read()
        subsystem = struct.unpack_from("<H", image, peimage.headers(image)[0] + 4)[0]
        self.assertEqual(subsystem, 2)  # a desktop program: no console window beside its message
        folder = os.path.join(self.dir, "src")
        shutil.copytree(example, folder, ignore=shutil.ignore_patterns("install_test.exe"))
        result = winrun.run([args.wine_run, args.build, args.stub], cwd=folder, timeout=BUILDER_TIMEOUT)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        target = os.path.join(self.dir, "installed")
        run = self.run_loader(os.path.join(folder, "install_test.exe"), "1", winpath(target))
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        for root, _, files in os.walk(os.path.join(example, "app")):
            for name in files:
                source = os.path.join(root, name)
                relative = os.path.relpath(source, os.path.join(example, "app"))
                with open(source, "rb") as a, open(os.path.join(target, relative), "rb") as b:
                    self.assertEqual(a.read(), b.read(), relative)


class Visibility(LoaderCase):
    """An attended run's window is checked while a "Warnning" box waits (the
    stored app digest is wrong), so a visible window cannot slip by unseen. An
    unattended run shows no box, and installs nothing from a damaged package:
    its window is watched through a whole run of a sound package instead."""

    def test_window_shown_or_hidden(self):
        cases = [
            # argv after the package, inherited KZQAUTOI, window visible, KZQAUTOI and KZQPATHI seen by setup
            ((), None, True, None, None),
            (("only",), "1x", False, "1x", None),
            (("only",), None, True, None, None),
            (("0", "D:\\target"), None, False, "0", "D:\\target"),
            (("1", "D:\\target", "more"), "0", False, "1", "D:\\target"),
            ((), "1", False, "1", None),
            ((), "0", True, "0", None),
            ((), "", True, "", None),
        ]
        sound = self.write_package(self.assembled(), name="sound.exe")
        damaged = bytearray(self.assembled())
        damaged[-32] ^= 1  # a stored app digest that cannot match
        damaged = self.write_package(bytes(damaged))
        for argv, autoi, visible, seen_autoi, seen_pathi in cases:
            with self.subTest(argv=argv, KZQAUTOI=autoi):
                if os.path.exists(self.report):
                    os.remove(self.report)
                run = self.run_loader(damaged if visible else sound, *argv, env={"KZQAUTOI": autoi})
                if visible:
                    self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
                    self.assertEqual(run.boxes, ["MD5 is uncorrect!"])
                    self.assertEqual(run.window_seen_at_box, [True])
                else:
                    self.assertEqual(run.returncode, 7, run.stdout + run.stderr)  # the setup program's
                    self.assertEqual(run.boxes, [])
                    self.assertFalse(run.window_seen)
                seen = self.report_seen()
                self.assertEqual(seen["args"], [])
                self.assertEqual(seen["KZQAUTOI"], seen_autoi)
                self.assertEqual(seen["KZQPATHI"], seen_pathi)


class Digests(LoaderCase):
    def test_changed_bytes_give_at_most_one_message(self):
        big_app = {"app\\big.bin": os.urandom(400000), "app\\readme.txt": b"hello"}
        package = self.assembled(app=big_app)
        setup_offset, app_offset = read_trailer(package)
        app_length = len(package) - TRAILER - app_offset
        step = app_length // 9
        # The setup archive's first central directory record: its "version
        # made by" byte is digested but never read by the reader.
        setup_version = package.index(b"PK\x01\x02", setup_offset) + 4
        cases = [
            ("sampled app byte", [app_offset + 100], ["MD5 is uncorrect!"]),
            ("app byte between samples", [app_offset + 4096 + (step - 4096) // 2], []),
            ("last app sample", [app_offset + app_length - 1], ["MD5 is uncorrect!"]),
            ("setup byte outside any entry", [setup_version], ["MD5 is uncorrect!"]),
            ("both archives", [setup_version, app_offset + 100], ["MD5 is uncorrect!"]),
        ]
        self.assertGreater(step - 4096, 1000)
        for name, offsets, boxes in cases:
            with self.subTest(name):
                changed = package
                for offset in offsets:
                    changed = with_byte_changed(changed, offset)
                if os.path.exists(self.report):
                    os.remove(self.report)
                run = self.run_loader(self.write_package(changed))
                self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
                self.assertEqual(run.boxes, boxes)
                self.assertEqual(self.report_seen()["args"], [])  # setup still started


class DamagedSetupArchive(LoaderCase):
    def test_corrupted_entry_is_not_written_and_the_rest_is(self):
        setup = self.setup_files(**{"victim.bin": os.urandom(5000)})
        package = self.assembled(setup=setup)
        setup_offset, _ = read_trailer(package)
        header = package.index(b"PK\x03\x04" + b"\x14\x00", setup_offset)
        while b"victim.bin" not in package[header:header + 80]:
            header = package.index(b"PK\x03\x04", header + 4)
        name_length, extra_length = struct.unpack("<HH", package[header + 26:header + 30])
        data_offset = header + 30 + name_length + extra_length
        run = self.run_loader(self.write_package(with_byte_changed(package, data_offset + 2000)))
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertEqual(run.boxes, ["Uncompress failed!"])
        self.assertFalse(os.path.exists(os.path.join(self.setup_folder, "victim.bin")))
        with open(os.path.join(self.setup_folder, "data", "nested", "blob.bin"), "rb") as f:
            self.assertEqual(f.read(), setup["data\\nested\\blob.bin"])
        self.assertEqual(self.report_seen()["args"], [])

    def test_archive_failing_after_k_entries(self):
        names = ["qSetup.exe", "config.xml", "uninstallicon.ico", "a.txt", "b.txt", "c.txt"]
        files = self.setup_files(**{"a.txt": b"a", "b.txt": b"b", "c.txt": b"c"})
        ordered = {n: files[n] for n in names}
        for k in (3, 5):
            with self.subTest(k=k):
                package = bytearray(self.assembled(setup=ordered))
                setup_offset, _ = read_trailer(bytes(package))
                record = setup_offset
                for _ in range(k + 1):
                    record = bytes(package).index(b"PK\x01\x02", record + 1)
                package[record + 1] ^= 0xff  # entry k's central directory record is unreadable
                shutil.rmtree(self.setup_folder, ignore_errors=True)
                run = self.run_loader(self.write_package(bytes(package)))
                self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
                self.assertEqual(run.boxes, ["Uncompress failed!"])
                self.assertEqual(sorted(n for n in os.listdir(self.setup_folder) if n != "uninstall.exe"),
                                 sorted(names[:k]))
                seen = self.report_seen()
                config = bytes.fromhex(seen["config_hex"]).decode("utf-8")
                self.assertIn("install_test.exe", config)  # patched all the same

class Endings(LoaderCase):
    """The loader never hangs: what cannot go on ends the run with -1, and a
    close request ends it with 0."""

    def test_missing_setup_program_ends_with_minus_one(self):
        setup = self.setup_files()
        del setup["qSetup.exe"]
        run = self.run_loader(self.write_package(self.assembled(setup=setup)))
        self.assertEqual(run.returncode, 0xFFFFFFFF, run.stdout + run.stderr)
        self.assertEqual(run.boxes, [])
        self.assertFalse(os.path.exists(self.report))

    def test_close_request_before_the_hand_off(self):
        # While the worker waits in its message box, the user closes the
        # window: the loader ends at once with 0 and never starts the setup
        # program; what was extracted stays.
        package = self.assembled()
        setup_offset, _ = read_trailer(package)
        changed = with_byte_changed(package, package.index(b"PK\x01\x02", setup_offset) + 4)
        closed = []

        def close(box):
            closed.append(winrun.run([args.wine_run, args.build, args.closewindow, "Cwin"], timeout=30).returncode)

        run = self.run_loader(self.write_package(changed), on_box=close)
        self.assertEqual(closed, [0])
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertEqual(run.boxes, ["MD5 is uncorrect!"])
        self.assertFalse(os.path.exists(self.report))
        self.assertTrue(os.path.isfile(os.path.join(self.setup_folder, "qSetup.exe")))
        self.assertFalse(os.path.exists(os.path.join(self.setup_folder, "uninstall.exe")))

    def test_no_screen_ends_with_minus_one(self):
        run = self.run_loader(self.write_package(self.assembled()), env={"DISPLAY": ":4242"})  # a screen that is not there
        self.assertEqual(run.returncode, 0xFFFFFFFF, run.stdout + run.stderr)
        self.assertIn("cannot create the window", run.stdout)
        self.assertFalse(os.path.exists(self.report))


class Hostile(LoaderCase):
    def outside_untouched(self):
        """Everything the case folder holds apart from the workspace."""
        listing = []
        for root, dirs, files in os.walk(self.dir):
            if os.path.abspath(root).startswith(os.path.abspath(self.setup_folder)):
                continue
            listing += [os.path.relpath(os.path.join(root, n), self.dir) for n in files]
        return sorted(listing)

    def test_zip_slip_names_write_nothing_outside_the_workspace(self):
        hostile = [
            "setup\\..\\..\\escaped.txt", "setup\\..\\..\\..\\escaped2.txt", "..\\escaped3.txt",
            "\\escaped4.txt", "setup\\sub\\..\\..\\..\\escaped5.txt", "C:\\escaped6.txt",
            "setup\\..\\setup\\..\\..\\escaped7.txt", "setup/../../escaped8.txt",
        ]
        setup = self.setup_files()
        entries = [("setup\\" + n, d) for n, d in setup.items()] + [(n, b"x") for n in hostile]
        package = assemble(make_zip(entries), make_zip([("app\\a", b"a")]))
        self.write_package(package)
        before = self.outside_untouched()
        run = self.run_loader(os.path.join(self.dir, "install_test.exe"))
        self.assert_no_crash(run)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertEqual(run.boxes, ["Uncompress failed!"])
        self.assertEqual(self.outside_untouched(), sorted(before + ["report.json"]))
        self.assertFalse(os.path.exists("/escaped4.txt"))
        self.assertEqual(sorted(os.listdir(self.temp)), ["setup"])

    def test_hostile_trailers(self):
        good = self.assembled()
        setup_offset, app_offset = read_trailer(good)
        size = len(good)

        def trailer(setup, app):
            return good[:-TRAILER] + struct.pack("<I", setup) + good[-68:-36] + struct.pack("<I", app) + good[-32:]

        cases = [
            ("offsets beyond the file", trailer(0xfffffff0, 0xfffffff8)),
            ("offsets out of order", trailer(app_offset, setup_offset)),
            ("app offset past the trailer", trailer(setup_offset, size)),
            ("setup offset inside the trailer", trailer(size - 10, size - 5)),
            ("zero offsets", trailer(0, 0)),
            ("all ones", good[:-TRAILER] + b"\xff" * TRAILER),
        ]
        for name, package in cases:
            with self.subTest(name):
                path = self.write_package(package)
                before = self.outside_untouched()
                run = self.run_loader(path)
                self.assert_no_crash(run)
                self.assertEqual(run.boxes, ["Uncompress failed!"])
                self.assertEqual(run.returncode, 0xFFFFFFFF, run.stdout + run.stderr)  # nothing to start
                self.assertEqual(self.outside_untouched(), before)


class Names(LoaderCase):
    def test_paths_outside_the_code_page(self):
        folder = os.path.join(self.dir, "安装包")
        temp = os.path.join(self.dir, "临时文件")
        os.makedirs(folder)
        path = self.write_package(self.assembled(), name="安装.exe", folder=folder)
        run = self.run_loader(path, cwd=folder, temp=temp, env={"LC_ALL": "C.UTF-8"})
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertEqual(run.boxes, [])
        seen = self.report_seen()
        self.assertEqual(seen["self"].lower(), (winpath(temp) + "\\setup\\qSetup.exe").lower())
        self.assertTrue(os.path.isfile(os.path.join(temp, "setup", "uninstall.exe")))
        config = bytes.fromhex(seen["config_hex"]).decode("utf-8")
        self.assertIn('path="%s"' % winpath(path), config)


    def test_temp_folder_with_spaces_gives_the_setup_program_one_argument(self):
        # Its quoted path is its whole command line: argv[0] stays one
        # argument, as for a user whose profile name holds a space. (Wine
        # quotes the program's path itself when no command line is given,
        # where Windows uses it unquoted: the quoting rules are tested
        # natively, tests/platform; here the line the program gets.)
        temp = os.path.join(self.dir, "Ana Maria", "Local Temp")
        path = self.write_package(self.assembled())
        run = self.run_loader(path, temp=temp)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        seen = self.report_seen()
        self.assertEqual(seen["args"], [])
        program = winpath(temp) + "\\setup\\qSetup.exe"
        self.assertEqual(seen["self"].lower(), program.lower())
        self.assertEqual(seen["commandline"].lower(), '"%s"' % program.lower())


class StaleWorkspace(LoaderCase):
    def test_stale_files_go_and_linked_outside_files_stay(self):
        outside = os.path.join(self.dir, "outside")
        os.makedirs(os.path.join(outside, "inner"))
        for name in ("keep.txt", os.path.join("inner", "keep2.txt")):
            with open(os.path.join(outside, name), "w") as f:
                f.write("keep")
        stale = os.path.join(self.setup_folder, "old", "deeper")
        os.makedirs(stale)
        stale_files = [os.path.join(self.setup_folder, "stale.txt"), os.path.join(stale, "stale2.txt"),
                       os.path.join(self.setup_folder, "uninstall.exe")]
        for name in stale_files:
            with open(name, "w") as f:
                f.write("stale")
        # A link to a folder, which wine shows as a reparse point. (A link to a
        # file looks like a plain file to Win32 under wine 8, and deleting it
        # deletes its target: no Windows program can tell it apart there.)
        os.symlink(outside, os.path.join(self.setup_folder, "link"))
        # An entry whose path runs through the stale link must not land outside.
        package = self.assembled(setup=self.setup_files(**{"link\\planted.txt": b"planted"}))
        run = self.run_loader(self.write_package(package))
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertEqual(run.boxes, ["Uncompress failed!"])  # the planted entry is refused
        for name in stale_files[:2]:
            self.assertFalse(os.path.exists(name), name)
        with open(os.path.join(self.setup_folder, "uninstall.exe"), "rb") as f:
            self.assertNotEqual(f.read(), b"stale")  # a fresh copy, not the stale file
        self.assertEqual(sorted(os.listdir(outside)), ["inner", "keep.txt"])
        for name in ("keep.txt", os.path.join("inner", "keep2.txt")):
            with open(os.path.join(outside, name)) as f:
                self.assertEqual(f.read(), "keep")


class Elevated(LoaderCase):
    """An elevated run (wine's default token) works in a new, randomly named
    folder with a protected access list, never in %TEMP%\\setup, and removes
    it at the end; the setup program's broadcasts are answered meanwhile."""

    PROTECTED = re.compile(r"^kelvane-[0-9a-f]{32}$")

    def plant(self):
        """A DLL left in the user's setup folder, where an unelevated process
        of the user can write."""
        os.makedirs(self.setup_folder, exist_ok=True)
        planted = os.path.join(self.setup_folder, "version.dll")
        with open(planted, "wb") as f:
            f.write(b"planted")
        return planted

    def test_elevated_run_works_in_a_protected_folder_of_its_own(self):
        path = self.write_package(self.assembled())
        planted = self.plant()
        # the arguments, what the setup program sees, the loader's exit code: attended 0 once the
        # setup program ran, unattended the setup program's own (7)
        cases = [((), None, None, 0), (("1", "D:\\target dir\\"), "1", "D:\\target dir\\", 7)]
        folders = set()
        for argv, autoi, pathi, code in cases:
            with self.subTest(argv=argv):
                if os.path.exists(self.report):
                    os.remove(self.report)
                run = self.run_loader(path, *argv, elevated=True)
                self.assertEqual(run.returncode, code, run.stdout + run.stderr)
                self.assertEqual(run.boxes, [])
                seen = self.report_seen()
                self.assertEqual(seen["elevated"], 1)
                folder, name = seen["self"].rsplit("\\", 1)
                self.assertEqual(name, "qSetup.exe")
                root, setup = folder.rsplit("\\", 1)
                self.assertEqual(setup, "setup")
                parent, random_name = root.rsplit("\\", 1)
                self.assertRegex(random_name, self.PROTECTED)
                self.assertEqual(parent.lower(), winpath(self.temp).lower())
                folders.add(random_name)
                self.assertIn("config.xml", seen["beside"])
                self.assertIn("uninstall.exe", seen["beside"])
                self.assertNotIn("version.dll", seen["beside"])
                config = bytes.fromhex(seen["config_hex"]).decode("utf-8")
                self.assertRegex(config, r'<source path="%s"\s*/>' % re.escape(winpath(path)))
                self.assertEqual((seen["KZQAUTOI"], seen["KZQPATHI"]), (autoi, pathi))
                self.assertEqual(seen["cwd"].rstrip("\\").lower(), winpath(self.dir).lower())
                # Removed once the setup program has ended; the user's folder untouched.
                self.assertFalse(os.path.exists(os.path.join(self.temp, random_name)))
                self.assertEqual(os.listdir(self.setup_folder), ["version.dll"])
                with open(planted, "rb") as f:
                    self.assertEqual(f.read(), b"planted")
                self.assertNotIn("delete path is", run.stdout)
        self.assertEqual(len(folders), 2)  # a new name every run
        self.assertEqual(sorted(os.listdir(self.temp)), ["setup"])

    def test_same_package_as_a_standard_user_uses_the_temp_setup_folder(self):
        path = self.write_package(self.assembled())
        self.plant()
        run = self.run_loader(path, "1", "D:\\target")
        self.assertEqual(run.returncode, 7, run.stdout + run.stderr)  # unattended: the setup program's
        seen = self.report_seen()
        self.assertEqual(seen["elevated"], 0)
        self.assertEqual(seen["self"].lower(), (winpath(self.setup_folder) + "\\qSetup.exe").lower())
        self.assertNotIn("version.dll", seen["beside"])  # the workspace was reset first
        self.assertEqual((seen["KZQAUTOI"], seen["KZQPATHI"]), ("1", "D:\\target"))
        self.assertTrue(os.path.isfile(os.path.join(self.setup_folder, "uninstall.exe")))

    def test_broadcast_from_the_setup_program_is_answered(self):
        # SendMessageW(HWND_BROADCAST, ...) waits for every top-level window,
        # the hidden loader's too: a loader that waits without answering
        # messages hangs both programs.
        path = self.write_package(self.assembled())
        for elevated in (False, True):
            with self.subTest(elevated=elevated):
                run = self.run_loader(path, env={"KELVANE_BROADCAST": "1"}, elevated=elevated)
                self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
                seen = self.report_seen()
                self.assertGreaterEqual(seen["broadcast_ms"], 0)
                self.assertLess(seen["broadcast_ms"], 1000)


class LargeEntries(LoaderCase):
    """Entries stream to their files: memory stays bounded whatever an entry's
    size, and an entry that does not fit leaves nothing under its name."""

    MEMORY_BOUND_KIB = 32 * 1024

    def write_big_entry_zip(self, path, name, size):
        """A setup archive with the usual files and one entry of `size` bytes:
        repeated blocks mixed with random ones, so it is made quickly and still
        inflates through many chunks. Returns the entry's SHA-256."""
        block = 1 << 20
        pattern = bytes(range(256)) * (block // 256)
        digest = hashlib.sha256()
        with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED, compresslevel=1) as z:
            for n, d in self.setup_files().items():
                z.writestr("setup\\" + n, d)
            info = zipfile.ZipInfo("setup\\" + name, date_time=(1980, 1, 1, 0, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            info.file_size = size
            with z.open(info, "w") as entry:
                for i in range(0, size, block):
                    data = (os.urandom(block) if i // block % 8 == 0 else pattern)[:size - i]
                    digest.update(data)
                    entry.write(data)
        return digest.hexdigest()

    def test_300_mb_entry_installs_in_bounded_memory(self):
        size = 300 * 1000 * 1000
        setup_zip = os.path.join(self.dir, "setup.zip")
        expected = self.write_big_entry_zip(setup_zip, "data\\big.bin", size)
        package = os.path.join(self.dir, "install_test.exe")
        assemble_file(package, setup_zip, make_zip([("app\\readme.txt", b"hello")]))
        os.remove(setup_zip)
        run = self.run_loader(package, watch_memory=True)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertEqual(run.boxes, [])
        self.assertEqual(self.report_seen()["args"], [])
        big = os.path.join(self.setup_folder, "data", "big.bin")
        self.assertEqual(os.path.getsize(big), size)
        digest = hashlib.sha256()
        with open(big, "rb") as f:
            for piece in iter(lambda: f.read(1 << 20), b""):
                digest.update(piece)
        self.assertEqual(digest.hexdigest(), expected)
        self.assertGreater(run.peak_kib, 0, "the loader's memory was never seen")
        self.assertLess(run.peak_kib, self.MEMORY_BOUND_KIB, "peak resident size in KiB")

    def mount_small_temp(self, size):
        temp = os.path.join(self.dir, "small")
        os.makedirs(temp)
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%d" % size, "tmpfs", temp],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, timeout=30)
        if mounted.returncode != 0:
            self.skipTest("cannot mount a tmpfs (needs root): " + mounted.stderr.strip())
        self.addCleanup(subprocess.run, ["umount", temp], timeout=30)
        return temp

    def test_entry_larger_than_the_temp_file_system(self):
        # The big entry does not fit and is removed; the filler after it takes
        # the room back, so the uninstaller's copy runs out of space halfway.
        temp = self.mount_small_temp(4 << 20)
        setup = self.setup_files()
        setup["data\\big.bin"] = os.urandom(6 << 20)
        pages = lambda data: (len(data) + 4095) // 4096 * 4096
        stat = os.statvfs(temp)
        room = stat.f_bavail * stat.f_frsize - sum(pages(d) for n, d in setup.items() if n != "data\\big.bin")
        setup["data\\filler.bin"] = os.urandom(room - 4096 - len(setup["qSetup.exe"]) // 2 // 4096 * 4096)
        setup["after.txt"] = b"after"
        run = self.run_loader(self.write_package(self.assembled(setup=setup)), temp=temp)
        self.assert_no_crash(run)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertEqual(run.boxes, ["Uncompress failed!"])
        self.assertEqual(self.report_seen()["args"], [])  # the setup program was still started
        folder = os.path.join(temp, "setup")
        stat = os.statvfs(temp)
        self.assertLess(stat.f_bavail * stat.f_frsize, len(setup["qSetup.exe"]), "the copy should not fit")
        on_disk = {os.path.relpath(os.path.join(root, n), folder).replace("/", "\\")
                   for root, _, files in os.walk(folder) for n in files}
        self.assertNotIn("data\\big.bin", on_disk)
        self.assertNotIn("uninstall.exe", on_disk)
        self.assertLessEqual(on_disk, set(setup))  # nothing but entries: no temporary file
        for name in on_disk:
            with open(os.path.join(folder, *name.split("\\")), "rb") as f:
                content = f.read()
            if name == "config.xml":
                self.assertIn(b"<keep", content)
            else:
                self.assertEqual(content, setup[name], name)  # whole, never truncated


class SetupFolderOnly(LoaderCase):
    """Entries land in the setup folder and nowhere else, and the setup folder
    is never a link's target."""

    def test_setup_folder_that_is_a_link(self):
        # Planted before the run (anyone can, in the system's temporary folder
        # before a SYSTEM deployment). wine can only open a Unix symbolic link
        # through to its target, so the loader cannot remove it here: the link
        # stays, and nothing is deleted, written, patched or started through it.
        outside = os.path.join(self.dir, "outside")
        os.makedirs(os.path.join(outside, "inner"))
        for name, data in (("qSetup.exe", b"planted"), ("config.xml", b"<setup/>"),
                           (os.path.join("inner", "keep.txt"), b"keep")):
            with open(os.path.join(outside, name), "wb") as f:
                f.write(data)
        before = tree(outside)
        os.symlink(outside, self.setup_folder)
        path = self.write_package(self.assembled())
        for argv, code, boxes in (((), 0xFFFFFFFF, ["Uncompress failed!"]), (("1", "C:\\target"), 24001, [])):
            with self.subTest(argv=argv):
                run = self.run_loader(path, *argv)
                self.assert_no_crash(run)
                self.assertEqual(run.returncode, code, run.stdout + run.stderr)
                self.assertEqual(run.boxes, boxes)
                self.assertEqual(tree(outside), before)
                self.assertFalse(os.path.exists(self.report))  # nothing started
                self.assertTrue(os.path.islink(self.setup_folder))
                self.assertIn("a link that cannot be removed without following it", run.stdout)

    def test_entries_outside_the_setup_folder_and_unread_methods_write_nothing(self):
        setup = self.setup_files()
        entries = [("setup\\" + n, d) for n, d in setup.items()]
        entries += [("evil.dll", b"evil"), ("Low\\x.dll", b"low"), ("setup\\m12.dll", b"same size, wrong CRC"),
                    ("setup\\QSETUP.EXE", b"not the setup program"), ("setup\\QSETUP~1.EXE", b"nor this"),
                    ("setup\\qsetup.exe. ", b"nor this")]
        archive = with_method_and_crc(make_zip(entries), b"setup\\m12.dll", 12, 0x12345678)
        run = self.run_loader(self.write_package(assemble(archive, make_zip([("app\\a", b"a")]))))
        self.assert_no_crash(run)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertEqual(run.boxes, ["Uncompress failed!"])
        self.assertEqual(sorted(os.listdir(self.temp)), ["setup"])
        on_disk = set(tree(self.setup_folder))
        self.assertEqual(on_disk, {n.replace("\\", "/") for n in setup} | {"uninstall.exe"})
        self.assertEqual(self.report_seen()["args"], [])  # the real setup program, not a later alias
        for refused in ("evil.dll", "Low\\x.dll", "setup\\m12.dll", "setup\\QSETUP.EXE", "setup\\QSETUP~1.EXE"):
            self.assertIn("<%s>" % refused, run.stdout)


def settled_windows():
    """The visible windows, once they have stayed the same for a second (10 s
    at most): a console window of an earlier run's setup program can still
    come and go for a moment after that run ended."""
    windows, since, deadline = None, 0, time.monotonic() + 10
    while time.monotonic() < deadline:
        now = set(xdotool("search", "--onlyvisible", "--name", "."))
        if now != windows:
            windows, since = now, time.monotonic()
        elif time.monotonic() - since >= 1:
            break
        time.sleep(0.1)
    return windows


class Unattended(LoaderCase):
    """As deployment tools run packages: unattended, elevated (wine's default)
    and as a standard user. No window ever appears, a damaged package is not
    installed, and the exit code says what happened; exitcode.exe reports the
    loader's whole 32-bit code (a Linux parent sees only its low 8 bits)."""

    def run_unattended(self, path, limited, env=None):
        """Runs the package with two arguments; returns (exit code, stdout,
        stderr, windows seen on the screen during the run)."""
        environment = dict(os.environ, KELVANE_TEMP_DIR=self.temp, WINEDEBUG="+msgbox", KELVANE_REPORT=winpath(self.report))
        environment.pop("KZQAUTOI", None)
        environment.pop("KZQPATHI", None)
        environment.update(env or {})
        idle = settled_windows()
        seen = {}
        with winrun.Program(launched(path, "1", "C:\\Program Files\\Product", as_user=limited), cwd=self.dir,
                            env=environment, timeout=LOADER_TIMEOUT) as proc:
            while proc.running():
                for window in set(xdotool("search", "--onlyvisible", "--name", ".")) - idle - set(seen):
                    seen[window] = " ".join(xdotool("getwindowname", window) + xdotool("getwindowgeometry", window))
                time.sleep(0.05)
        stdout, stderr = proc.stdout.decode("utf-8", "replace"), proc.stderr.decode("utf-8", "replace")
        code = exit_code(stdout)
        self.assertIsNotNone(code, stdout + stderr)
        return code, stdout, stderr, seen

    def damaged_packages(self):
        good = self.assembled()
        mismatch = bytearray(good)
        mismatch[-32] ^= 1  # the stored app digest
        setup = self.setup_files(**{"victim.bin": os.urandom(5000)})
        crc = bytearray(self.assembled(setup=setup))
        victim = bytes(crc).index(b"setup\\victim.bin", read_trailer(bytes(crc))[0])
        crc[victim + 2000] ^= 0x5a  # inside its deflated data
        return [("digest mismatch", bytes(mismatch), 24002, "Warnning: MD5 is uncorrect!", "MD5 is uncorrect!"),
                ("entry failing its CRC", bytes(crc), 24001, "Warnning: Uncompress failed!", "Uncompress failed!")]

    def test_damaged_packages_end_with_their_own_code_and_no_window(self):
        damaged = self.damaged_packages()
        for name, package, code, logged, _ in damaged:
            path = self.write_package(package, name=name.replace(" ", "-") + ".exe")
            for limited in (False, True):
                with self.subTest(name, limited=limited):
                    exitcode, stdout, stderr, seen = self.run_unattended(path, limited)
                    self.assertEqual(exitcode, code, stdout)
                    self.assertEqual(seen, {}, "windows appeared: %s" % seen)
                    self.assertNotIn("MSGBOX_OnInit", stderr)
                    self.assertIn(logged, stdout)
                    self.assertFalse(os.path.exists(self.report))  # the setup program never started
        for name, package, _, _, box in damaged:
            with self.subTest(name, attended=True):  # as today: the box, then the setup program, then 0
                if os.path.exists(self.report):
                    os.remove(self.report)
                run = self.run_loader(self.write_package(package))
                self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
                self.assertEqual(run.boxes, [box])
                self.assertEqual(self.report_seen()["args"], [])

    def test_setup_programs_exit_code_is_passed_on(self):
        path = self.write_package(self.assembled())
        for setupexit in ("3", "1603", "3010"):
            for limited in (False, True):
                with self.subTest(setupexit=setupexit, limited=limited):
                    exitcode, stdout, stderr, seen = self.run_unattended(path, limited, {"KELVANE_EXIT": setupexit})
                    self.assertEqual(exitcode, int(setupexit), stdout)
                    self.assertEqual(seen, {}, seen)
                    self.assertEqual(self.report_seen()["KZQAUTOI"], "1")
        run = self.run_loader(path, env={"KELVANE_EXIT": "1603"})
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)  # attended: 0 once it ran

    def test_setup_program_that_cannot_start_is_minus_one(self):
        setup = self.setup_files()
        del setup["qSetup.exe"]
        exitcode, stdout, _, seen = self.run_unattended(self.write_package(self.assembled(setup=setup)), False)
        self.assertEqual(exitcode, 0xFFFFFFFF, stdout)  # -1 as the tools show it
        self.assertEqual(seen, {}, seen)


def setUpModule():
    # xdotool looks at the session's screen, the one wine-env.sh names.
    os.environ["DISPLAY"] = subprocess.run(["bash", "-c", 'source "$1/wine-env.sh"; echo "$DISPLAY"', "-", args.build],
                                           capture_output=True, text=True, check=True).stdout.strip()


def main():
    """Reads the build's paths, then runs the running script's test groups
    named on the command line."""
    global args
    parser = argparse.ArgumentParser()
    for name in ("build", "stub", "fakesetup", "closewindow", "windowstate", "exitcode", "uninstallicon", "wine-run"):
        parser.add_argument("--" + name, required=True)
    args, rest = parser.parse_known_args()
    unittest.main(module="__main__", argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
