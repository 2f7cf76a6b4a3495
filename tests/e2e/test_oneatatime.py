"""One installation at a time: loaders that share a workspace, run together
under wine. The fake setup program can be held running until the test creates
a release file; it reports when it started and, in a second file, when it
ended. Loaders run in the background with their output in files."""
import json
import os
import time
import unittest

import test_loader as e2e
from test_loader import LoaderCase, setUpModule, winpath, winrun  # noqa: F401 (module fixture)

BUSY = "the workspace is in use by process"
SETUP_WINDOW = "Kelvane test setup"
OTHER_WINDOW = "Kelvane other program"
# A held installation's time limit covers everything a case does meanwhile.
HELD_TIMEOUT = 90


def window_state(title, *action):
    """windowstate's exit code for the window of that title (see windowstate.c):
    0 for in front, 1 for behind or minimized."""
    return winrun.run([e2e.args.wine_run, e2e.args.build, e2e.args.windowstate, title, *action],
                      timeout=30).returncode


def until(condition, timeout, what):
    """Polls for an observable event; fails after timeout seconds."""
    limit = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > limit:
            raise AssertionError("no %s within %d s" % (what, timeout))
        time.sleep(0.05)


def tree(folder):
    """Every file below folder: relative path -> bytes."""
    files = {}
    for root, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(root, name)
            with open(path, "rb") as f:
                files[os.path.relpath(path, folder)] = f.read()
    return files


class Loader(winrun.Program):
    """A loader (or the fake setup program itself) under wine in the
    background, its setup program reporting into its own file. Ended, if
    still running, when the case ends."""

    def __init__(self, case, program, *argv, report, hold=None, window=None, timeout=HELD_TIMEOUT):
        self.report = os.path.join(case.dir, report)
        environment = dict(os.environ, KELVANE_TEMP_DIR=case.temp, KELVANE_REPORT=winpath(self.report),
                           KELVANE_EXIT="7")
        for name in ("KZQAUTOI", "KZQPATHI", "KELVANE_HOLD", "KELVANE_WINDOW"):
            environment.pop(name, None)
        if hold:
            environment["KELVANE_HOLD"] = winpath(hold)
        if window:
            environment["KELVANE_WINDOW"] = window
        # As a standard user: an elevated loader would not work in %TEMP%\setup.
        super().__init__(e2e.launched(program, *argv, as_user=True), cwd=case.dir, env=environment,
                         timeout=timeout)
        # An unattended loader ends with its setup program's exit code (7), an attended one with 0.
        self.ending = 7 if len(argv) >= 2 else 0
        case.addCleanup(self.__exit__, None, None, None)

    def wait(self):
        """Waits for the end; returns the program's whole exit code."""
        super().wait()
        return e2e.exit_code(self.stdout.decode("utf-8", "replace"))

    def output(self):
        return self.stdout.decode("utf-8", "replace") + self.stderr.decode("utf-8", "replace")[-3000:]

    def setup_started(self):
        """The setup program's report, once it is there whole; else None."""
        try:
            with open(self.report, encoding="utf-8") as f:
                return json.load(f)
        except (OSError, ValueError):
            return None

    def setup_ended(self):
        try:
            with open(self.report + ".end") as f:
                return int(f.read())
        except (OSError, ValueError):
            return None


class OneAtATime(LoaderCase):
    def setUp(self):
        super().setUp()
        self.release = os.path.join(self.dir, "release")

    def held_installation(self, package, *argv, window=None):
        """A loader whose setup program runs until the release file exists."""
        first = Loader(self, package, *argv, report="first.json", hold=self.release, window=window)
        until(lambda: first.setup_started() or not first.running(), 90, "setup program")
        self.assertTrue(first.running(), first.output())
        return first

    def assert_installed(self, package, loader, setup):
        """The workspace holds this package's setup files and its uninstaller,
        and its setup program saw the configuration pointing at it."""
        files = tree(self.setup_folder)
        for name, data in setup.items():
            if name != "config.xml":
                self.assertEqual(files.get(os.path.join(*name.split("\\"))), data, name)
        self.assertIn("uninstall.exe", files)
        config = bytes.fromhex(loader.setup_started()["config_hex"]).decode("utf-8")
        self.assertIn('path="%s"' % winpath(package), config)

    def release_and_finish(self, *loaders):
        """Releases the held setup programs; each loader then ends as it should."""
        with open(self.release, "w"):
            pass
        for loader in loaders:
            self.assertEqual(loader.wait(), loader.ending, loader.output())
            self.assertIsNotNone(loader.setup_ended())

    def test_started_again_attended_ends_at_once_and_leaves_the_workspace(self):
        setup = self.setup_files()
        package = self.write_package(self.assembled(setup=setup))
        first = self.held_installation(package, window=SETUP_WINDOW)
        before = tree(self.setup_folder)
        self.assertIn("uninstall.exe", before)
        for hidden in ("minimized", "behind another program"):
            with self.subTest(hidden):
                if hidden == "minimized":
                    self.assertEqual(window_state(SETUP_WINDOW, "minimize"), 0)
                else:
                    Loader(self, e2e.args.fakesetup, report="other.json", hold=self.release, window=OTHER_WINDOW)
                    until(lambda: window_state(OTHER_WINDOW) == 0, 60, "other program in front")
                self.assertEqual(window_state(SETUP_WINDOW), 1)
                second = Loader(self, package, report="second.json", timeout=10)
                self.assertEqual(second.wait(), 0xFFFFFFFF, second.output())
                self.assertRegex(second.output(), BUSY + r" \d+: brought its window forward, ending")
                self.assertEqual(window_state(SETUP_WINDOW), 0)
                self.assertIsNone(second.setup_started())
                self.assertEqual(tree(self.setup_folder), before)
        self.release_and_finish(first)
        self.assert_installed(package, first, setup)

    def test_started_again_unattended_waits_then_installs(self):
        setup = self.setup_files()
        package = self.write_package(self.assembled(setup=setup))
        first = self.held_installation(package)
        # Left by the first installation: the second must keep it while it
        # waits and reset the workspace once it runs.
        with open(os.path.join(self.setup_folder, "stale.txt"), "w") as f:
            f.write("stale")
        before = tree(self.setup_folder)
        second = Loader(self, package, "1", "C:\\target", report="second.json", hold=self.release)
        until(lambda: BUSY in second.output() or not second.running(), 60, "waiting second loader")
        self.assertTrue(second.running(), second.output())
        self.assertIsNone(second.setup_started())
        self.assertEqual(tree(self.setup_folder), before)
        self.release_and_finish(first, second)
        self.assertLessEqual(first.setup_ended(), second.setup_started()["started"])
        self.assertEqual(second.setup_started()["KZQAUTOI"], "1")
        self.assertNotIn("stale.txt", tree(self.setup_folder))
        self.assert_installed(package, second, setup)

    def test_two_packages_started_together_install_one_after_the_other(self):
        setups, packages = [], []
        for which in ("a", "b"):
            os.makedirs(os.path.join(self.dir, which))
            setups.append(self.setup_files(**{"which.txt": which.encode()}))
            packages.append(self.write_package(self.assembled(setup=setups[-1]), folder=os.path.join(self.dir, which)))
        loaders = [Loader(self, p, "1", "C:\\target", report=w + ".json", hold=self.release)
                   for p, w in zip(packages, "ab")]
        # One setup program runs, held; the other loader waits for it.
        until(lambda: any(l.setup_started() for l in loaders) or not all(l.running() for l in loaders),
              90, "first setup program")
        running = 0 if loaders[0].setup_started() else 1
        waiting = 1 - running
        until(lambda: BUSY in loaders[waiting].output() or not loaders[waiting].running(), 60,
              "waiting loader")
        self.assertIsNone(loaders[waiting].setup_started())
        self.assertTrue(loaders[waiting].running(), loaders[waiting].output())
        self.release_and_finish(*loaders)
        self.assertLessEqual(loaders[running].setup_ended(), loaders[waiting].setup_started()["started"])
        config = bytes.fromhex(loaders[running].setup_started()["config_hex"]).decode("utf-8")
        self.assertIn('path="%s"' % winpath(packages[running]), config)
        self.assert_installed(packages[waiting], loaders[waiting], setups[waiting])

    def test_killed_holder_does_not_block_the_next_loader(self):
        # The first loader holds the workspace in its "MD5 is uncorrect!" box,
        # which nobody presses, until it is killed.
        setup = self.setup_files()
        damaged = bytearray(self.assembled(setup=setup))
        damaged[-32] ^= 1  # a stored app digest that cannot match
        first = Loader(self, self.write_package(bytes(damaged), name="damaged.exe"), report="first.json")
        until(lambda: e2e.xdotool("search", "--onlyvisible", "--name", "^Warnning$") or not first.running(),
              90, "message box of the first loader")
        self.assertTrue(first.running(), first.output())
        package = self.write_package(self.assembled(setup=setup))
        second = Loader(self, package, "1", "C:\\target", report="second.json")
        until(lambda: BUSY in second.output() or not second.running(), 60, "waiting second loader")
        self.assertTrue(second.running(), second.output())
        first.kill()
        self.assertEqual(second.wait(), second.ending, second.output())
        self.assertIsNone(first.setup_started())
        self.assert_installed(package, second, setup)


if __name__ == "__main__":
    e2e.main()
