"""Runs Windows programs under wine for the Python tests.

A program's standard output and error go to temporary files, never to a pipe:
wine's background processes (its desktop, its services) can inherit a pipe and
keep it open long after the program has ended, and a test waiting for the end
of that pipe would wait forever. Every run has a time limit, shorter than its
CTest test's; on expiry the program is killed and the test fails with the
windows on the screen and what the program wrote.

    ended = winrun.run([wine_run, build, program, *argv], cwd=..., env=..., timeout=60)
    ended.returncode, ended.stdout, ended.stderr   (bytes)

    with winrun.Program([...], env=...) as program:   # watched while it runs
        while program.running():
            ...
    program.returncode, program.stdout, program.stderr
"""
import os
import signal
import subprocess
import tempfile
import time

DEFAULT_TIMEOUT = 60


class TimeLimit(AssertionError):
    """A program that did not end within its time limit."""


def screen_windows(env=None):
    """The names of the windows on the X screen that env (or this process)
    names, one "id name" string each."""
    def xdotool(*argv):
        return subprocess.run(["xdotool", *argv], env=env, capture_output=True, text=True, timeout=10).stdout

    try:
        return ["%s %r" % (window, xdotool("getwindowname", window).strip())
                for window in xdotool("search", "--name", ".").split()]
    except (OSError, subprocess.TimeoutExpired) as error:
        return ["(cannot list the windows: %s)" % error]


def press_ok(box, env=None):
    """Clicks the OK button of a message box with one button: half way across,
    26 pixels above the box's lower edge. A key press would go to the window
    wine keeps in front, and that is not always the box X has the focus on:
    seen here with Return pressed on a focused box in about 1 run in 20."""
    def xdotool(*argv):
        return subprocess.run(["xdotool", *argv], env=env, capture_output=True, text=True, timeout=10).stdout

    place = dict(line.split("=", 1) for line in xdotool("getwindowgeometry", "--shell", box).split())
    if not place:
        return  # gone meanwhile
    x = int(place["X"]) + int(place["WIDTH"]) // 2
    y = int(place["Y"]) + int(place["HEIGHT"]) - 26
    xdotool("mousemove", str(x), str(y), "click", "1")


def peak_memory_kib(program):
    """The peak resident size (VmHWM) of the running wine process started as
    `program` (its command line begins with that path); 0 when there is none."""
    wanted = str(program).encode("utf-8")
    peak = 0
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                if f.read().split(b"\0")[0] != wanted:
                    continue
            with open("/proc/%s/status" % pid) as f:
                for line in f:
                    if line.startswith("VmHWM:"):
                        peak = max(peak, int(line.split()[1]))
        except OSError:
            continue
    return peak


class Program:
    """A program started at once, in a process group of its own, with its
    output in temporary files."""

    def __init__(self, command, *, cwd=None, env=None, timeout=DEFAULT_TIMEOUT):
        self.command = [str(part) for part in command]
        self.env = env
        self.timeout = timeout
        self.returncode = None
        self._out = tempfile.TemporaryFile()
        self._err = tempfile.TemporaryFile()
        self._deadline = time.monotonic() + timeout
        self._process = subprocess.Popen(self.command, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                                         stdout=self._out, stderr=self._err, start_new_session=True)

    def running(self):
        """True while the program runs. Past its time limit it is killed and
        TimeLimit raised, naming the screen's windows and its output."""
        self.returncode = self._process.poll()
        if self.returncode is not None:
            return False
        if time.monotonic() < self._deadline:
            return True
        windows = screen_windows(self.env)
        self.kill()
        raise TimeLimit("%s still running after %s s\nwindows on the screen:\n  %s\nstdout:\n%s\nstderr:\n%s" % (
            " ".join(self.command), self.timeout, "\n  ".join(windows) or "(none)",
            self.stdout.decode("utf-8", "replace")[-3000:], self.stderr.decode("utf-8", "replace")[-3000:]))

    def wait(self):
        """Waits for the end within the time limit; returns the exit code."""
        while self.running():
            time.sleep(0.05)
        return self.returncode

    def kill(self):
        """Ends the program and everything it started in its process group."""
        if self._process.poll() is None:
            try:
                os.killpg(self._process.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        self.returncode = self._process.wait()

    @property
    def stdout(self):
        """What the program has written to its standard output so far."""
        return self._read(self._out)

    @property
    def stderr(self):
        return self._read(self._err)

    @staticmethod
    def _read(file):
        if isinstance(file, bytes):  # kept when the files were closed
            return file
        return os.pread(file.fileno(), os.fstat(file.fileno()).st_size, 0)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        # A program still running here (a failed assertion, a test that has
        # seen enough) must not leave a window on the shared screen.
        self.kill()
        for name in ("_out", "_err"):
            file = getattr(self, name)
            setattr(self, name, self._read(file))
            file.close()


def run(command, *, cwd=None, env=None, timeout=DEFAULT_TIMEOUT):
    """Runs a program to its end within the time limit; the ended Program
    gives returncode, stdout and stderr."""
    with Program(command, cwd=cwd, env=env, timeout=timeout) as program:
        program.wait()
    return program
