"""What a real Windows desktop expects of a package, checked under wine and
with icoutils' wrestool: a setup program that Windows will only start
elevated makes the loader start its package again elevated, which runs it
from a protected folder (by a test build of the loader whose unelevated start
always reports ERROR_ELEVATION_REQUIRED, since wine never does); the stub's
manifest and version resource; a package written by builder mode keeps the
manifest and takes the setup program's version resource; the uninstaller
keeps the setup program's own, and its icon is the uninstaller icon in place
of the program's first icon group."""
import argparse
import itertools
import os
import re
import struct
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree

import test_loader
from test_loader import LoaderCase, Run, assemble, ico_images, make_zip, setUpModule, winpath  # noqa: F401

RT_VERSION, RT_MANIFEST = 16, 24
SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}",  # Windows Vista
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # Windows 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # Windows 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # Windows 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # Windows 10 and 11
}
ASM_V1, ASM_V3 = "urn:schemas-microsoft-com:asm.v1", "urn:schemas-microsoft-com:asm.v3"
COMPATIBILITY = "urn:schemas-microsoft-com:compatibility.v1"
args = None


def resources(exe, kind):
    """The executable's resources of one type: (name, language) -> bytes."""
    listing = subprocess.run(["wrestool", "-l", "-t", str(kind), exe], capture_output=True, check=True, text=True)
    found = {}
    for name, language in re.findall(r"--name=(\S+) --language=(\d+)", listing.stdout):
        found[(name, int(language))] = subprocess.run(
            ["wrestool", "-x", "--raw", "-t", str(kind), "-n", name, "-L", language, exe],
            capture_output=True, check=True).stdout
    return found


def version_block(data, offset=0):
    """One block of a version resource: (key, value bytes, children)."""
    length, value_length, kind = struct.unpack_from("<HHH", data, offset)
    end = data.index(b"\0\0", offset + 6)
    while (end - offset) % 2:
        end = data.index(b"\0\0", end + 1)
    key = data[offset + 6:end].decode("utf-16-le")
    position = (end + 2 + 3) & ~3
    value_size = value_length * 2 if kind == 1 else value_length
    value = data[position:position + value_size]
    children, child = [], (position + value_size + 3) & ~3
    while child < offset + length:
        children.append(version_block(data, child))
        child = (child + struct.unpack_from("<H", data, child)[0] + 3) & ~3
    return key, value, children


def parse_version(data):
    """The fixed file and product versions and the strings of each table."""
    key, fixed, children = version_block(data)
    assert key == "VS_VERSION_INFO", key
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", fixed)
    assert signature == 0xFEEF04BD, hex(signature)
    split = lambda ms, ls: (ms >> 16, ms & 0xffff, ls >> 16, ls & 0xffff)
    tables = {}
    for name, _, blocks in children:
        if name == "StringFileInfo":
            for table, _, strings in blocks:
                tables[table.lower()] = {k: v.decode("utf-16-le").rstrip("\0") for k, v, _ in strings}
    return split(file_ms, file_ls), split(product_ms, product_ls), tables


def write_tree(folder, files):
    for name, data in files.items():
        path = os.path.join(folder, *name.split("\\"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)


def read(path):
    with open(path, "rb") as f:
        return f.read()


class SecondStart(LoaderCase):
    """Packages whose loader is the test build: a setup program start by an
    unelevated loader fails as if the program asked for elevation, so the
    loader starts its own package again with "runas" and waits for it. Under
    wine that instance stays limited; the marker on its command line sends it
    to a protected folder of its own, where its start succeeds."""

    PROTECTED = re.compile(r"^kelvane-[0-9a-f]{32}$")

    def package(self, setup=None):
        setup = self.setup_files() if setup is None else setup
        return self.write_package(assemble(make_zip([("setup\\" + n, d) for n, d in setup.items()]),
                                           make_zip([("app\\readme.txt", b"hello")]),
                                           stub=read(args.elevationloader)))

    def test_setup_program_needing_elevation_runs_from_a_protected_folder_and_is_awaited(self):
        # The setup program writes its report only after 1.5 s: a loader that
        # ended without waiting would leave no report behind.
        path = self.package()
        cases = [
            # the loader's arguments, inherited KZQAUTOI, what the setup program sees, the first loader's
            # exit code: unattended the setup program's (7) passed on, attended 0 once it ran
            (("1", "D:\\target dir\\"), None, ("1", "D:\\target dir\\"), 7),
            ((), "1", ("1", None), 7),
            ((), None, (None, None), 0),
        ]
        for argv, inherited, values, code in cases:
            with self.subTest(argv=argv, KZQAUTOI=inherited):
                if os.path.exists(self.report):
                    os.remove(self.report)
                run = self.run_loader(path, *argv, env={"KELVANE_DELAY_MS": "1500", "KZQAUTOI": inherited})
                self.assertEqual(run.returncode, code, run.stdout + run.stderr)
                self.assertEqual(run.boxes, [])
                self.assertIn("asks for elevation (error 740): starting the package again elevated", run.stdout)
                seen = self.report_seen()
                self.assertEqual(seen["args"], [])
                self.assertEqual((seen["KZQAUTOI"], seen["KZQPATHI"]), values)
                folder, name = seen["self"].rsplit("\\", 1)
                root, setup = folder.rsplit("\\", 1)
                parent, random_name = root.rsplit("\\", 1)
                self.assertEqual((name, setup), ("qSetup.exe", "setup"))
                self.assertRegex(random_name, self.PROTECTED)
                self.assertEqual(parent.lower(), winpath(self.temp).lower())
                self.assertIn("uninstall.exe", seen["beside"])
                self.assertEqual(seen["cwd"].rstrip("\\").lower(), winpath(self.dir).lower())
                config = bytes.fromhex(seen["config_hex"]).decode("utf-8")
                self.assertIn('path="%s"' % winpath(path), config)
                self.assertFalse(os.path.exists(os.path.join(self.temp, random_name)))  # removed at its end
                # The first loader's own extraction stays where an unelevated run leaves it.
                self.assertEqual(sorted(os.listdir(self.temp)), ["setup"])

    def test_declined_or_failed_elevation_ends_with_minus_one(self):
        path = self.package()
        no_program = self.setup_files()
        del no_program["qSetup.exe"]
        cases = [
            (path, {"KELVANE_TEST_SHELLSTART_ERROR": "1223"}, "elevation of the package was declined (error 1223)"),
            (path, {"KELVANE_TEST_SHELLSTART_ERROR": "2"}, "cannot start the package elevated (error 2)"),
            # The elevated instance runs but cannot start the setup program.
            (self.package(no_program), {}, "the elevated instance ended with 0x4b560000"),
        ]
        for (package, env, line), argv in itertools.product(cases, [(), ("1", "C:\\target")]):
            with self.subTest(line, argv=argv):
                run = self.run_loader(package, *argv, env=env)
                self.assertEqual(run.returncode, 0xFFFFFFFF, run.stdout + run.stderr)  # -1, attended or not
                self.assertEqual(run.boxes, [])
                self.assertIn(line, run.stdout)
                self.assertFalse(os.path.exists(self.report))
                self.assertEqual(sorted(os.listdir(self.temp)), ["setup"])


class Resources(LoaderCase):
    def build(self, qsetup):
        """Runs builder mode in a folder whose setup program is `qsetup` (bytes
        or None); returns the package's path and the builder's output."""
        folder = tempfile.mkdtemp(prefix="src-", dir=self.dir)
        files = {"app\\readme.txt": b"hello", "setup\\config.xml": b"<setup><source path=''/></setup>",
                 "setup\\uninstallicon.ico": read(args.uninstallicon)}
        if qsetup is not None:
            files["setup\\qSetup.exe"] = qsetup
        write_tree(folder, files)
        run = Run(args.stub, cwd=folder, temp=os.path.join(folder, "temp"), timeout=test_loader.BUILDER_TIMEOUT)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        return os.path.join(folder, "install_test.exe"), run.stdout.replace("\r\n", "\n")

    def test_stub_manifest(self):
        (name, manifest), = resources(args.stub, RT_MANIFEST).items()
        self.assertEqual(name, ("1", 1033))
        root = ElementTree.fromstring(manifest)
        self.assertEqual(root.tag, "{%s}assembly" % ASM_V1)
        level = root.find("./{%s}trustInfo/{%s}security/{%s}requestedPrivileges/{%s}requestedExecutionLevel" %
                          ((ASM_V3,) * 4))
        self.assertEqual((level.get("level"), level.get("uiAccess")), ("asInvoker", "false"))
        ids = {e.get("Id") for e in root.iterfind("./{%s}compatibility/{%s}application/{%s}supportedOS" %
                                                  ((COMPATIBILITY,) * 3))}
        self.assertEqual(ids, SUPPORTED_OS)
        dependency = root.find("./{%s}dependency/{%s}dependentAssembly/{%s}assemblyIdentity" % ((ASM_V1,) * 3))
        self.assertEqual({k: dependency.get(k) for k in ("type", "name", "version", "publicKeyToken")},
                         {"type": "win32", "name": "Microsoft.Windows.Common-Controls", "version": "6.0.0.0",
                          "publicKeyToken": "6595b64144ccf1df"})
        # Per-monitor DPI awareness v2, then v1, then (dpiAware, read before
        # Windows 10 1607) per-monitor on 8.1 and system-aware before it.
        settings = "./{%s}application/{%s}windowsSettings/" % (ASM_V3, ASM_V3)
        self.assertEqual(root.findtext(settings + "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}dpiAwareness"),
                         "PerMonitorV2, PerMonitor")
        self.assertEqual(root.findtext(settings + "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}dpiAware"),
                         "true/pm")

    def test_stub_version(self):
        (name, data), = resources(args.stub, RT_VERSION).items()
        self.assertEqual(name, ("1", 1033))
        fixed_file, fixed_product, tables = parse_version(data)
        numbers = tuple(int(p) for p in args.version.split(".")) + (0,) * (4 - len(args.version.split(".")))
        self.assertEqual((fixed_file, fixed_product), (numbers, numbers))
        text = ".".join(map(str, numbers))
        strings = tables["040904b0"]
        self.assertEqual({k: strings.get(k) for k in ("ProductName", "OriginalFilename", "FileVersion",
                                                       "ProductVersion")},
                         {"ProductName": "Kelvane", "OriginalFilename": "kelvane.exe", "FileVersion": text,
                          "ProductVersion": text})
        for key in ("FileDescription", "CompanyName", "LegalCopyright"):
            self.assertTrue(strings.get(key), key)

    def test_package_keeps_the_manifest_and_speaks_for_the_setup_program(self):
        vendor = read(args.vendorsetup)
        key = "VS_VERSION_INFO".encode("utf-16-le")
        self.assertEqual(vendor.count(key), 1)
        stub_versions = resources(args.stub, RT_VERSION)
        cases = [
            # setup program, version resources the package must carry, builder's line;
            # a vendor's takes the place of the stub's own, under its name and language.
            ("a vendor's version resource", vendor,
             {("1", 1033): resources(args.vendorsetup, RT_VERSION)[("1", 1031)]}, None),
            ("no version resource", read(args.fakesetup), stub_versions, None),
            ("no setup program", None, stub_versions, None),
            ("not a program", b"MZ and nothing else", stub_versions,
             "Bad VersionResource: setup/qSetup.exe is not a program whose resources can be read"),
            ("a damaged version resource", vendor.replace(key, key[:-2] + b"X\0"), stub_versions,
             "Bad VersionResource: the version resource has no VS_VERSION_INFO"),
        ]
        for what, qsetup, versions, line in cases:
            with self.subTest(what):
                package, out = self.build(qsetup)
                self.assertEqual(resources(package, RT_VERSION), versions)
                self.assertEqual(resources(package, RT_MANIFEST), resources(args.stub, RT_MANIFEST))
                if line:
                    self.assertIn(line + "\n", out)
                else:
                    self.assertNotIn("VersionResource", out)
                if qsetup is vendor:  # what Explorer shows for the package
                    _, _, tables = parse_version(resources(package, RT_VERSION)[("1", 1033)])
                    self.assertEqual(tables["040704b0"]["ProductName"], "Beispiel")

    def test_uninstaller_keeps_the_setup_programs_manifest_and_version(self):
        package, _ = self.build(read(args.vendorsetup))
        run = self.run_loader(package)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertEqual(self.report_seen()["args"], [])
        uninstaller = os.path.join(self.setup_folder, "uninstall.exe")
        for kind in (RT_MANIFEST, RT_VERSION):
            self.assertEqual(resources(uninstaller, kind), resources(args.vendorsetup, kind), kind)
        self.assertIn(b'level="requireAdministrator"', resources(uninstaller, RT_MANIFEST)[("1", 1031)])
        # Its icon is the uninstaller's: a group (1, English, as the vendor's
        # program has none) of exactly the .ico's images.
        images = ico_images(read(args.uninstallicon))
        icons = resources(uninstaller, 3)
        (group,) = resources(uninstaller, 14).values()
        _, _, count = struct.unpack_from("<HHH", group)
        ids = [struct.unpack_from("<H", group, 6 + 14 * i + 12)[0] for i in range(count)]
        self.assertEqual([icons[(str(i), 1033)] for i in ids], images)

    def test_uninstaller_icon_replaces_the_programs_own_group(self):
        # A setup program whose first icon group (7, German) names images 50
        # to 52, and a second group image 60: uninstall.exe's group 7 lists
        # exactly uninstallicon.ico's images, under numbers of their own.
        package, _ = self.build(read(args.oddsetup))
        run = self.run_loader(package)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        uninstaller = os.path.join(self.setup_folder, "uninstall.exe")
        groups, icons = resources(uninstaller, 14), resources(uninstaller, 3)
        _, _, count = struct.unpack_from("<HHH", groups[("7", 1031)])
        entries = [struct.unpack_from("<BBBBHHIH", groups[("7", 1031)], 6 + 14 * i) for i in range(count)]
        ico = read(args.uninstallicon)
        declared = [struct.unpack_from("<BBBBHHI", ico, 6 + 16 * i) for i in range(count)]
        self.assertEqual([e[:7] for e in entries], declared)
        self.assertEqual([icons[(str(e[7]), 1031)] for e in entries], ico_images(ico))
        self.assertFalse({e[7] for e in entries} & {50, 51, 52, 60})
        self.assertEqual(groups[("9", 1031)], resources(args.oddsetup, 14)[("9", 1031)])


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for name in ("build", "stub", "elevationloader", "fakesetup", "vendorsetup", "oddsetup", "uninstallicon",
                 "version", "exitcode", "wine-run"):
        parser.add_argument("--" + name, required=True)
    args, rest = parser.parse_known_args()
    test_loader.args = args  # the shared helpers read the same options
    unittest.main(module="__main__", argv=[sys.argv[0]] + rest, verbosity=2)
