"""The real stub under wine: exact size, mode dispatch by size, the early
failure when its own file cannot be opened, and an import table that names
only DLLs Windows always takes from its system folder."""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import winrun  # noqa: E402

STUB_SIZE = 1950720
# DLLs Windows loads from the system folder whatever the search path says
# (the KnownDLLs), plus msvcrt, the C runtime mingw-w64 targets.
SYSTEM_DLLS = {
    "advapi32.dll", "combase.dll", "comdlg32.dll", "gdi32.dll", "imagehlp.dll", "imm32.dll", "kernel32.dll",
    "msvcrt.dll", "normaliz.dll", "nsi.dll", "ntdll.dll", "ole32.dll", "oleaut32.dll", "psapi.dll",
    "rpcrt4.dll", "sechost.dll", "setupapi.dll", "shcore.dll", "shell32.dll", "shlwapi.dll", "user32.dll",
    "wldap32.dll", "ws2_32.dll",
}

args = None


def run(program, *argv, cwd, temp=None, timeout=60):
    env = dict(os.environ)
    if temp:
        env["KELVANE_TEMP_DIR"] = temp
    return winrun.run([args.wine_run, args.build, program, *argv], cwd=cwd, env=env, timeout=timeout)


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Stub(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="stub-", dir=args.build)

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def test_stub_has_its_exact_size(self):
        self.assertEqual(os.path.getsize(args.stub), STUB_SIZE)

    def test_imports_only_system_dlls(self):
        dump = subprocess.run([args.objdump, "-p", args.stub], capture_output=True, text=True, check=True).stdout
        imported = {name.lower() for name in re.findall(r"DLL Name: (\S+)", dump)}
        self.assertIn("kernel32.dll", imported)
        self.assertEqual(imported - SYSTEM_DLLS, set())

    def test_bare_stub_runs_the_builder(self):
        result = run(args.stub, cwd=self.dir, temp=os.path.join(self.dir, "temp"))
        out = result.stdout.decode("utf-8", "replace")
        self.assertNotIn("delete path is", out)
        self.assertEqual(result.returncode, 0, out)
        self.assertTrue(os.path.isfile(os.path.join(self.dir, "install_test.exe")), out)

    def test_grown_copy_runs_the_loader(self):
        package = os.path.join(self.dir, "package.exe")
        with open(args.stub, "rb") as src, open(package, "wb") as dst:
            dst.write(src.read() + b"\0")
        temp = os.path.join(self.dir, "temp")
        env = dict(os.environ, KELVANE_TEMP_DIR=temp)
        # The loader goes on to show its window and a message box about the
        # meaningless payload; its first line is enough to tell the mode. Run
        # as a standard user: an elevated loader works in a folder of its own.
        with winrun.Program([args.wine_run, args.build, args.exitcode, "--limited", winpath(package)], cwd=self.dir, env=env,
                            timeout=60) as proc:
            while b"\n" not in proc.stdout and proc.running():
                time.sleep(0.05)
            line = proc.stdout.decode("utf-8", "replace").split("\n")[0]
        expected = winpath(temp) + "\\setup"
        self.assertRegex(line, r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d workspace intitemp \d+: delete path is <")
        self.assertIn("<%s>" % expected, line)
        self.assertFalse(os.path.exists(os.path.join(self.dir, "install_test.exe")))

    def test_own_file_that_cannot_be_opened(self):
        # argv[0] is whatever the parent wrote first on the command line.
        for argv0 in ["no-such-file.exe", "kelvane", "elsewhere\\kelvane.exe"]:
            with self.subTest(argv0=argv0):
                result = run(args.spawnas, winpath(args.stub), argv0 + " 1 C:\\target", cwd=self.dir, timeout=30)
                self.assertEqual(result.stdout.replace(b"\r\n", b"\n"), b"Open file failed\n")
                self.assertEqual(result.returncode, 255)  # -1 as Linux sees it


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for name in ["build", "stub", "spawnas", "exitcode", "objdump", "wine-run"]:
        parser.add_argument("--" + name, required=True)
    args, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], "-v", *rest])
