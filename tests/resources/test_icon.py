"""The resources of packages written by the real stub's builder mode under
wine, and of uninstallers given their icon by ReplaceExeIcon, checked on Linux
with tools nobody here wrote: python3-pefile (a full load without warnings),
icoutils' wrestool (its listing, and each icon group extracted as an .ico) and
osslsigncode (signed, then verified).

Icons: the group directory lists exactly the .ico's images (sizes, colours,
planes, bit counts, byte counts, in the .ico's order, PNG-compressed 256-pixel
images included) and each entry leads to that image byte for byte, for icon
files of 1, 10 and 12 images and in another order than the stub's."""
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
from pecheck import loaded, pefile  # noqa: E402

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
STUB_SIZE = 1950720
args = None
certificate = None


def read(path):
    with open(path, "rb") as f:
        return f.read()


def wrestool(*argv):
    return subprocess.run([args.wrestool, *argv], capture_output=True, check=True).stdout


def listing(exe):
    """Every resource as wrestool lists it: (type, name, language) -> bytes."""
    found = {}
    for line in wrestool("-l", exe).decode().splitlines():
        m = re.match(r"--type=(\d+) --name=(\S+) --language=(\d+) ", line)
        if not m:
            raise AssertionError("unexpected wrestool line: " + line)
        kind, name, language = int(m.group(1)), m.group(2), int(m.group(3))
        found[(kind, name, language)] = wrestool("-x", "--raw", "-t", str(kind), "-n", name, "-L", str(language), exe)
    return found


def pe_resources(pe):
    """(type, name, language) -> bytes, read through pefile."""
    found = {}
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for name in kind.directory.entries:
            label = str(name.name) if name.name is not None else str(name.id)
            for language in name.directory.entries:
                entry = language.data.struct
                found[(kind.id, label, language.id)] = pe.get_data(entry.OffsetToData, entry.Size)
    return found


def group_entries(data):
    """An icon group directory's entries: (width, height, colours, reserved, planes, bits, bytes, id)."""
    reserved, kind, count = struct.unpack_from("<HHH", data)
    assert (reserved, kind, len(data)) == (0, 1, 6 + 14 * count), (reserved, kind, len(data), count)
    return [struct.unpack_from("<BBBBHHIH", data, 6 + 14 * i) for i in range(count)]


def ico_entries(ico):
    """An .ico's entries: (width, height, colours, reserved, planes, bits, bytes) and each image."""
    _, _, count = struct.unpack_from("<HHH", ico)
    out = []
    for i in range(count):
        fields = struct.unpack_from("<BBBBHHII", ico, 6 + 16 * i)
        out.append((fields[:7], ico[fields[7]:fields[7] + fields[6]]))
    return out


def bitmap(side, colour):
    """An icon image as Windows stores one: BITMAPINFOHEADER of double height,
    32-bit rows, AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, side, side * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    return header + bytes([colour, side % 256, 0x40, 0xff]) * side * side + bytes(((side + 31) // 32) * 4 * side)


def png(side):
    """A PNG-compressed image's bytes (only its signature matters to Windows' group directory)."""
    return b"\x89PNG\r\n\x1a\n" + struct.pack(">I", side) + os.urandom(3000)


def icon_file(images):
    """An .ico of (side, data) images, in the order given; side 256 is stored as 0."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for side, data in images:
        out += struct.pack("<BBBBHHII", side % 256, side % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, data in images)


ICONS = {
    "one image": icon_file([(32, bitmap(32, 1))]),
    "ten images": icon_file([(16 + 4 * i, bitmap(16 + 4 * i, i)) for i in range(10)]),
    "twelve images": icon_file([(8 + 4 * i, bitmap(8 + 4 * i, i)) for i in range(12)]),
    "a PNG 256 image, smallest last": icon_file([(256, png(256)), (48, bitmap(48, 7)), (32, bitmap(32, 8)),
                                                 (16, bitmap(16, 9))]),
    "sizes out of order": icon_file([(48, bitmap(48, 3)), (16, bitmap(16, 4)), (256, png(256)), (32, bitmap(32, 5)),
                                     (24, bitmap(24, 6))]),
}


def osslsigncode(*argv):
    result = subprocess.run(["osslsigncode", *argv], capture_output=True, text=True, timeout=120)
    return result.returncode, result.stdout + result.stderr


class ResourceCase(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="icon-", dir=args.build)

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def assert_icon(self, found, group_key, ico):
        """The group lists exactly the .ico's images, each leading to that image."""
        entries = group_entries(found[group_key])
        expected = ico_entries(ico)
        self.assertEqual([e[:7] for e in entries], [fields for fields, _ in expected])
        language = group_key[2]
        for entry, (_, image) in zip(entries, expected):
            self.assertTrue(found.get((RT_ICON, str(entry[7]), language)) == image, "image %d" % entry[7])
        return [e[7] for e in entries]

    def assert_wrestool_ico(self, exe, group_key, ico):
        """wrestool rebuilds the .ico from the group and its images: the same
        bytes, then as many zero bytes as the group directory has (wrestool
        does that for the stub's own icon, made by the linker, too)."""
        extracted = wrestool("-x", "-t", str(RT_GROUP_ICON), "-n", group_key[1], "-L", str(group_key[2]), exe)
        _, _, count = struct.unpack_from("<HHH", ico)
        self.assertTrue(extracted == ico + bytes(6 + 14 * count), "wrestool's .ico differs")

    def assert_signs_and_verifies(self, path):
        signed = path + ".signed.exe"
        code, out = osslsigncode("sign", "-certs", os.path.join(certificate, "cert.pem"),
                                 "-key", os.path.join(certificate, "key.pem"), "-n", "Kelvane test",
                                 "-in", path, "-out", signed)
        self.assertEqual(code, 0, out)
        code, out = osslsigncode("verify", "-CAfile", os.path.join(certificate, "cert.pem"), "-in", signed)
        self.assertEqual(code, 0, out)
        loaded(signed)


class Packages(ResourceCase):
    def build(self, ico=None, qsetup=None):
        """Builder mode in a folder of its own; the package's path and output."""
        work = tempfile.mkdtemp(prefix="build-", dir=self.dir)
        os.makedirs(os.path.join(work, "setup"))
        os.makedirs(os.path.join(work, "app"))
        with open(os.path.join(work, "app", "readme.txt"), "wb") as f:
            f.write(b"hello")
        if ico is not None:
            with open(os.path.join(work, "setup", "LoaderIcon.ico"), "wb") as f:
                f.write(ico)
        if qsetup is not None:
            shutil.copyfile(qsetup, os.path.join(work, "setup", "qSetup.exe"))
        env = dict(os.environ, KELVANE_TEMP_DIR=os.path.join(work, "temp"), LC_ALL="C.UTF-8")
        result = winrun.run([args.wine_run, args.build, args.stub], cwd=work, env=env, timeout=60)
        out = result.stdout.replace(b"\r\n", b"\n").decode("utf-8", "replace")
        self.assertEqual(result.returncode, 0, out)
        return os.path.join(work, "install_test.exe"), out

    def test_stub_has_the_layout_the_writer_handles(self):
        # Its exact length, the resource section last but for the relocations,
        # and a package written without icon or setup program keeps every
        # resource as it was (the writer's round trip on the real stub).
        self.assertEqual(os.path.getsize(args.stub), STUB_SIZE)
        with open(args.stub, "rb") as f:
            image = f.read()
        pe = pefile.PE(data=image[:max(s.PointerToRawData + s.SizeOfRawData for s in pefile.PE(args.stub).sections)])
        self.assertEqual(pe.get_warnings(), [])
        names = [s.Name.rstrip(b"\0") for s in pe.sections]
        self.assertEqual(names[-2:], [b".rsrc", b".reloc"])
        resource = pe.OPTIONAL_HEADER.DATA_DIRECTORY[2]
        self.assertEqual(resource.VirtualAddress, pe.sections[-2].VirtualAddress)
        self.assertEqual(pe.OPTIONAL_HEADER.DATA_DIRECTORY[5].VirtualAddress, pe.sections[-1].VirtualAddress)
        stub = listing(args.stub)
        self.assertEqual({k[0] for k in stub}, {RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST})

        package, out = self.build()
        self.assertIn("Open IconFile Failed!\n", out)
        self.assertEqual(listing(package), stub)
        self.assertEqual(pe_resources(loaded(package)), pe_resources(pefile.PE(args.stub)))

    def test_group_lists_exactly_the_icons_images(self):
        stub = listing(args.stub)
        (stub_group,) = [k for k in stub if k[0] == RT_GROUP_ICON]
        versions = [("no setup program", None), ("a setup program without a version resource", args.fakesetup),
                    ("a setup program with a version resource", args.vendorsetup)]
        vendor_version = next(data for (kind, _, _), data in listing(args.vendorsetup).items() if kind == RT_VERSION)
        for number, (what, ico) in enumerate(ICONS.items()):
            version_what, qsetup = versions[number % len(versions)]
            with self.subTest(what, setup=version_what):
                package, out = self.build(ico, qsetup)
                self.assertNotIn("IconFile", out)
                self.assertNotIn("VersionResource", out)
                found = listing(package)
                ids = self.assert_icon(found, stub_group, ico)
                self.assertEqual(ids, list(range(1, len(ids) + 1)))
                # Only the new images; the stub's others are gone.
                self.assertEqual(sorted(int(k[1]) for k in found if k[0] == RT_ICON), ids)
                self.assert_wrestool_ico(package, stub_group, ico)
                version = found[(RT_VERSION, "1", 1033)]
                self.assertEqual(version, vendor_version if qsetup == args.vendorsetup else stub[(RT_VERSION, "1", 1033)])
                self.assertEqual(found[(RT_MANIFEST, "1", 1033)], stub[(RT_MANIFEST, "1", 1033)])
                self.assertEqual(pe_resources(loaded(package)), found)
                self.assert_signs_and_verifies(package)

    def test_bad_icon_file_keeps_the_stubs_icon(self):
        package, out = self.build(b"\0\0\1\0\3\0" + b"x" * 20)
        self.assertIn("Bad IconFile: the icon file is too short for its 3 entries\n", out)
        stub = listing(args.stub)
        self.assertEqual({k: v for k, v in listing(package).items() if k[0] in (RT_ICON, RT_GROUP_ICON)},
                         {k: v for k, v in stub.items() if k[0] in (RT_ICON, RT_GROUP_ICON)})
        loaded(package)


class Uninstaller(ResourceCase):
    """ReplaceExeIcon (the hand-off's step for "uninstall.exe") on copies of
    fake setup programs, through the system's resource update."""

    def seticon(self, program, icon_bytes, name="icon.ico"):
        exe = os.path.join(self.dir, "uninstall.exe")
        shutil.copyfile(program, exe)
        if icon_bytes is not None:
            with open(os.path.join(self.dir, name), "wb") as f:
                f.write(icon_bytes)
        result = winrun.run([args.wine_run, args.build, args.seticon, name, "uninstall.exe"], cwd=self.dir, timeout=30)
        return exe, result.returncode, result.stdout.replace(b"\r\n", b"\n").decode("utf-8", "replace")

    def test_group_of_other_numbers_is_replaced_by_exactly_the_icons_images(self):
        before = listing(args.oddsetup)
        self.assertEqual(group_entries(before[(RT_GROUP_ICON, "7", 1031)])[0][7], 50)
        for what in ("one image", "twelve images", "a PNG 256 image, smallest last"):
            with self.subTest(what):
                ico = ICONS[what]
                exe, code, out = self.seticon(args.oddsetup, ico)
                self.assertEqual((code, out), (0, ""))
                found = listing(exe)
                ids = self.assert_icon(found, (RT_GROUP_ICON, "7", 1031), ico)
                # New identifiers: none of the vendor's 50-52 and 60.
                self.assertFalse(set(ids) & {50, 51, 52, 60}, ids)
                self.assertEqual(len(set(ids)), len(ids))
                # The second group and every image it or the old group named stay.
                for key in [(RT_GROUP_ICON, "9", 1031)] + [(RT_ICON, str(i), 1031) for i in (50, 51, 52, 60)]:
                    self.assertEqual(found[key], before[key], key)
                self.assert_wrestool_ico(exe, (RT_GROUP_ICON, "7", 1031), ico)

    def test_program_without_an_icon_gets_group_1(self):
        exe, code, out = self.seticon(args.fakesetup, ICONS["ten images"])
        self.assertEqual((code, out), (0, ""))
        found = listing(exe)
        self.assertEqual(self.assert_icon(found, (RT_GROUP_ICON, "1", 1033), ICONS["ten images"]), list(range(1, 11)))

    def test_refusals_leave_the_executable_unchanged(self):
        two = icon_file([(16, bitmap(16, 1)), (32, bitmap(32, 2))])
        cases = [
            ("missing icon file", None, "Open IconFile Failed!\n"),
            ("empty file", b"", "Bad IconFile: the icon file holds no images\n"),
            ("idCount 0", struct.pack("<HHH", 0, 1, 0) + two[6:], "Bad IconFile: the icon file holds no images\n"),
            ("idCount the file cannot hold", struct.pack("<HHH", 0, 1, 4000) + two[6:],
             "Bad IconFile: the icon file is too short for its 4000 entries\n"),
            ("image beyond the end", two[:-1], "Bad IconFile: image 2 lies beyond the end of the icon file\n"),
            ("dwBytesInRes larger than the file", two[:14] + struct.pack("<I", 1 << 31) + two[18:],
             "Bad IconFile: image 1 lies beyond the end of the icon file\n"),
        ]
        original = read(args.oddsetup)
        for what, icon_bytes, message in cases:
            with self.subTest(what):
                exe, code, out = self.seticon(args.oddsetup, icon_bytes, name="case.ico")
                self.assertEqual((code, out), (1, message))
                self.assertTrue(read(exe) == original, "the executable changed")
                if os.path.exists(os.path.join(self.dir, "case.ico")):
                    os.remove(os.path.join(self.dir, "case.ico"))

    def test_false_when_the_executable_cannot_be_updated(self):
        with open(os.path.join(self.dir, "icon.ico"), "wb") as f:
            f.write(ICONS["one image"])
        result = winrun.run([args.wine_run, args.build, args.seticon, "icon.ico", "missing.exe"], cwd=self.dir,
                            timeout=30)
        out = result.stdout.replace(b"\r\n", b"\n").decode("utf-8", "replace")
        self.assertEqual(result.returncode, 1)
        self.assertTrue(out.startswith("Replace ExeIcon Failed: "), out)
        self.assertFalse(os.path.exists(os.path.join(self.dir, "missing.exe")))


def setUpModule():
    global certificate
    certificate = tempfile.mkdtemp(prefix="signing-", dir=args.build)
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=Kelvane test signer", "-addext", "extendedKeyUsage=codeSigning",
                    "-keyout", os.path.join(certificate, "key.pem"), "-out", os.path.join(certificate, "cert.pem")],
                   check=True, capture_output=True, timeout=120)


def tearDownModule():
    shutil.rmtree(certificate, ignore_errors=True)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for name in ["build", "stub", "seticon", "fakesetup", "vendorsetup", "oddsetup", "wine-run"]:
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--wrestool", default=shutil.which("wrestool"))
    args, rest = parser.parse_known_args()
    if not args.wrestool:
        sys.exit("wrestool is missing: run scripts/install-deps.sh (icoutils)")
    unittest.main(argv=[sys.argv[0], "-v", *rest])
