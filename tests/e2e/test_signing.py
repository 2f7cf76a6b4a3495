"""Signed packages end to end: packages built by the real stub under wine,
signed with osslsigncode and a certificate that openssl makes for this run,
installed by the loader like the unsigned ones. Shares the loader cases'
harness (test_loader.py)."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, here)
sys.path.insert(0, os.path.join(here, "..", "support"))
import pecheck  # noqa: E402
import peimage  # noqa: E402
import test_loader as loader  # noqa: E402

certificate = None  # folder holding cert.pem and key.pem


def osslsigncode(*argv):
    result = subprocess.run(["osslsigncode", *argv], capture_output=True, text=True, timeout=120)
    return result.returncode, result.stdout + result.stderr


def sign(source, target, nest=False):
    code, output = osslsigncode("sign", *(["-nest"] if nest else []),
                                "-certs", os.path.join(certificate, "cert.pem"),
                                "-key", os.path.join(certificate, "key.pem"),
                                "-n", "Kelvane test", "-in", source, "-out", target)
    if code != 0:
        raise AssertionError("osslsigncode sign failed:\n" + output)
    return target


def verify(path):
    """Number of verified signatures, or None when verification fails."""
    code, output = osslsigncode("verify", "-CAfile", os.path.join(certificate, "cert.pem"), "-in", path)
    if code != 0:
        return None
    counts = [line.split(":")[1] for line in output.splitlines() if line.startswith("Number of verified signatures")]
    return int(counts[0]) if counts else None


def read(path):
    with open(path, "rb") as f:
        return f.read()


class Signing(loader.LoaderCase):
    def build(self, stub, folder_name="src"):
        """Runs `stub` as the builder in a folder of its own with app/ and
        setup/; returns the path of the package it wrote."""
        folder = os.path.join(self.dir, folder_name)
        if not hasattr(self, "trees"):  # the same files for every build of a case
            with open(loader.args.uninstallicon, "rb") as f:
                setup = self.setup_files(**{"LoaderIcon.ico": f.read()})
            self.trees = (("app", {"readme.txt": b"hello", "big.bin": os.urandom(300000)}), ("setup", setup))
        for root, files in self.trees:
            for name, data in files.items():
                path = os.path.join(folder, root, *name.split("\\"))
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with open(path, "wb") as f:
                    f.write(data)
        program = os.path.join(folder, "kelvane.exe")
        shutil.copyfile(stub, program)
        temp = os.path.join(folder, "buildtemp")
        os.makedirs(temp)
        run = loader.Run(program, cwd=folder, temp=temp, timeout=loader.BUILDER_TIMEOUT)
        package = os.path.join(folder, "install_test.exe")
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertTrue(os.path.isfile(package), run.stdout)
        return package

    def assert_installs(self, path):
        if os.path.exists(self.report):
            os.remove(self.report)
        shutil.rmtree(self.setup_folder, ignore_errors=True)
        run = self.run_loader(path)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertEqual(run.boxes, [])
        config = bytes.fromhex(self.report_seen()["config_hex"]).decode("utf-8")
        self.assertIn('path="%s"' % loader.winpath(path), config)
        self.assertTrue(os.path.isfile(os.path.join(self.setup_folder, "uninstall.exe")))

    def build_unaligned(self):
        """A package whose length is no multiple of 8, so that signing pads it
        and removing the signature leaves that padding behind. Random data
        deflates to a length that varies: each try adds a few bytes."""
        for attempt in range(8):
            path = self.build(loader.args.stub, "src%d" % attempt)
            if os.path.getsize(path) % 8:
                return path
            self.trees[0][1]["pad.bin"] = os.urandom(attempt + 1)
        self.fail("every package length was a multiple of 8")

    def test_signed_nested_and_unsigned_again_install_like_the_unsigned(self):
        unsigned = self.build_unaligned()
        plain = read(unsigned)
        self.assertIsNone(peimage.certificate_table(plain))
        pecheck.loaded(unsigned)
        setup_offset = peimage.read_trailer(plain)[0]
        signed = sign(unsigned, os.path.join(self.dir, "signed.exe"))
        nested = sign(signed, os.path.join(self.dir, "nested.exe"), nest=True)
        removed = os.path.join(self.dir, "removed.exe")
        code, output = osslsigncode("remove-signature", "-in", signed, "-out", removed)
        self.assertEqual(code, 0, output)
        self.assertEqual(verify(signed), 1)
        self.assertEqual(verify(nested), 2)
        self.assertIsNone(verify(removed))
        for path in (signed, nested, removed):
            with self.subTest(os.path.basename(path)):
                package = read(path)
                # Signing added its table (and padding) but left the archives
                # and the trailer as they were.
                self.assertEqual(peimage.certificate_table(package) is None, path == removed)
                self.assertGreater(len(package), len(plain))
                self.assertEqual(peimage.data_end(package), len(plain))
                self.assertEqual(package[setup_offset:len(plain)], plain[setup_offset:])
                pecheck.loaded(path)
                self.assert_installs(path)

    def test_signed_bare_stub_builds_a_package_without_a_table(self):
        stub = sign(loader.args.stub, os.path.join(self.dir, "signed-stub.exe"))
        self.assertEqual(verify(stub), 1)
        self.assertGreater(os.path.getsize(stub), os.path.getsize(loader.args.stub))
        package = self.build(stub)
        data = read(package)
        checksum, security, _ = peimage.headers(data)
        self.assertIsNone(peimage.certificate_table(data))
        self.assertEqual(data[security:security + 8], bytes(8))  # no stale pointer into the archives
        self.assertEqual(data[checksum:checksum + 4], bytes(4))
        self.assertIsNone(verify(package))
        # The same bytes as a package built by the unsigned stub.
        self.assertEqual(data, read(self.build(loader.args.stub, "unsigned-src")))
        self.assert_installs(package)
        resigned = sign(package, os.path.join(self.dir, "resigned.exe"))
        self.assertEqual(verify(resigned), 1)
        self.assert_installs(resigned)

    def test_changed_archive_byte_fails_verification_and_warns_as_unsigned(self):
        unsigned = self.build(loader.args.stub)
        plain = read(unsigned)
        signed = read(sign(unsigned, os.path.join(self.dir, "signed.exe")))
        setup_offset, _, app_offset, _ = peimage.read_trailer(plain)
        # A digested byte of each archive: the setup archive's first central
        # directory record ("version made by", never read by the reader) and
        # the app archive's first byte.
        cases = [("setup archive", plain.index(b"PK\x01\x02", setup_offset) + 4), ("app archive", app_offset)]
        for name, offset in cases:
            with self.subTest(name):
                outcomes = []
                for package in (plain, signed):
                    path = self.write_package(loader.with_byte_changed(package, offset), name="changed.exe")
                    if package is signed:
                        self.assertIsNone(verify(path))
                    if os.path.exists(self.report):
                        os.remove(self.report)
                    run = self.run_loader(path)
                    outcomes.append((run.returncode, run.boxes, os.path.exists(self.report)))
                self.assertEqual(outcomes[0], (0, ["MD5 is uncorrect!"], True))
                self.assertEqual(outcomes[1], outcomes[0])


def setUpModule():
    global certificate
    certificate = tempfile.mkdtemp(prefix="signing-", dir=loader.args.build)
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=Kelvane test signer", "-addext", "extendedKeyUsage=codeSigning",
                    "-keyout", os.path.join(certificate, "key.pem"), "-out", os.path.join(certificate, "cert.pem")],
                   check=True, capture_output=True, timeout=120)
    loader.setUpModule()


def tearDownModule():
    shutil.rmtree(certificate, ignore_errors=True)


if __name__ == "__main__":
    loader.main()
