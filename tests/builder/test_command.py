"""The native builder command's command line, exit codes and refusals, without
a stub of its own (builder mode and the native command are compared on real
packages by test_identity.py in the windows suite)."""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

args = None
STUB_SIZE = 1950720


class Command(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="command-")
        self.work = os.path.join(self.dir, "work")
        os.makedirs(os.path.join(self.work, "setup"))
        os.makedirs(os.path.join(self.work, "app"))
        # A file of the stub's size passes the stub check; its resources are
        # never reached by the cases below.
        self.stub = os.path.join(self.dir, "kelvane.exe")
        with open(self.stub, "wb") as f:
            f.write(b"MZ" + bytes(STUB_SIZE - 2))

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def run_kelvane(self, *argv, program=None):
        result = subprocess.run([program or args.kelvane, *argv], capture_output=True, timeout=60, cwd=self.dir)
        return result.returncode, result.stdout.decode("utf-8", "replace") + result.stderr.decode("utf-8", "replace")

    def test_command_line(self):
        cases = [
            (["--help"], 0, "Usage: kelvane build"),
            (["build", "--help"], 0, "Exit codes"),
            (["build", self.work, "--frobnicate"], 2, "unknown option --frobnicate"),
            (["build", self.work, "--codepage", "latin"], 2, "not a code page number"),
            (["build", self.work, "--stub"], 2, "--stub needs a value"),
            (["build", self.work, self.dir], 2, "one folder only"),
            (["build", self.work, "--stub", os.path.join(self.dir, "missing.exe")], 3, "cannot be read"),
            (["build", self.work, "--stub", os.path.join(self.work, "setup")], 3, ""),
        ]
        for argv, code, text in cases:
            with self.subTest(argv=argv):
                got, out = self.run_kelvane(*argv)
                self.assertEqual(got, code, out)
                self.assertIn(text, out)
        self.assertFalse(os.path.exists(os.path.join(self.work, "install_test.exe")))

    def test_a_file_that_is_not_a_bare_stub_is_refused(self):
        with open(self.stub, "ab") as f:
            f.write(b"trailer")  # a package, say
        code, out = self.run_kelvane("build", self.work, "--stub", self.stub)
        self.assertEqual(code, 3, out)
        self.assertIn("is not a bare stub", out)

    def test_the_stub_is_looked_for_beside_the_program(self):
        program = os.path.join(self.dir, "bin", "kelvane")
        os.makedirs(os.path.dirname(program))
        shutil.copy(args.kelvane, program)
        code, out = self.run_kelvane("build", self.work, program=program)
        self.assertEqual(code, 3, out)
        self.assertIn(os.path.join(self.dir, "bin", "kelvane.exe"), out)

    def test_names_windows_cannot_hold_are_refused_all_at_once(self):
        names = ["app/Readme.txt", "app/README.txt", "app/CON", "app/sub/lpt1.log", "setup/a:b.txt",
                 "setup/trailing.", "setup/\u0100.txt", "setup/\u0150.txt", "setup/fine \u00e9.txt"]
        for name in names:
            path = os.path.join(self.work, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w") as f:
                f.write(name)
        code, out = self.run_kelvane("build", self.work, "--stub", self.stub)
        self.assertEqual(code, 1, out)
        for refused in ["app\\Readme.txt: differs only in letter case from README.txt", "app\\CON: is a device name",
                        "app\\sub\\lpt1.log: is a device name", "setup\\a:b.txt: holds the character :",
                        "setup\\trailing.: ends with a dot", "setup\\\u0100.txt: does not fit"]:
            self.assertIn("Refused " + refused, out)
        self.assertIn("Refused setup\\\u0150.txt: does not fit the archive's code page 1252", out)
        self.assertNotIn("Refused setup\\fine", out)
        self.assertFalse(os.path.exists(os.path.join(self.work, "install_test.exe")))
        # Code page 1250 holds U+0150, not U+0100.
        code, out = self.run_kelvane("build", self.work, "--stub", self.stub, "--codepage", "1250")
        self.assertEqual(code, 1, out)
        self.assertIn("Refused setup\\\u0100.txt", out)
        self.assertNotIn("Refused setup\\\u0150.txt", out)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--kelvane", required=True)
    args, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest)
