#!/usr/bin/env python3
"""Extraction benchmark: the loader against an NSIS installer of the same tree.

Builds, once, in a work folder of the windows build tree:
  - a setup tree of real files (copies from /usr/lib and /usr/share, a few
    hundred MB) plus one large file of repeated and random blocks mixed;
  - a package of it, made by the stub under wine (the real builder);
  - an NSIS installer of the same tree (makensis, SetCompressor zlib, File /r).
Then runs both unattended under wine, alternately, with a warm wineserver, and
prints each one's median time and peak resident size, and the ratio.

    bench/extract.py --build build/windows [--runs 5] [--tree-mb 200] [--big-mb 105] [--app-mb 10]

Needs Debian's nsis package (makensis) beside the build's own dependencies.
"""
import argparse
import hashlib
import os
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(SOURCE, "tests", "support"))
import winrun  # noqa: E402
DEVICE_NAMES = {"con", "prn", "aux", "nul", "conin$", "conout$"} | {p + str(d) for p in ("com", "lpt") for d in range(10)}


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def windows_safe(name):
    base = name.split(".")[0].rstrip(" ").lower()
    return (name and name.isascii() and name.isprintable() and not any(c in name for c in '\\:*?"<>|')
            and base not in DEVICE_NAMES and not name.endswith((".", " ")))


def copy_real_files(target, megabytes):
    """Copies regular files of up to 1.5 MB from /usr/share and /usr/lib until
    `megabytes` are there, keeping their relative paths; names Windows could
    not hold, or that differ only in letter case, are left out."""
    budget, taken, seen = megabytes * 1000 * 1000, 0, set()
    for top in ("/usr/share", "/usr/lib/x86_64-linux-gnu"):
        for root, dirs, files in os.walk(top):
            dirs.sort()
            relative_root = os.path.relpath(root, "/usr")
            if len(relative_root) > 150 or not all(windows_safe(p) for p in relative_root.split(os.sep)):
                dirs[:] = []
                continue
            for name in sorted(files):
                source = os.path.join(root, name)
                relative = os.path.join(relative_root, name)
                if not windows_safe(name) or relative.lower() in seen or os.path.islink(source):
                    continue
                try:
                    size = os.path.getsize(source)
                    if size > 1500 * 1000 or not os.access(source, os.R_OK):
                        continue
                    os.makedirs(os.path.join(target, relative_root), exist_ok=True)
                    shutil.copyfile(source, os.path.join(target, relative))
                except OSError:
                    continue
                seen.add(relative.lower())
                taken += size
                if taken >= budget:
                    return len(seen), taken
    return len(seen), taken


def write_mixed_file(path, megabytes):
    """Random blocks (one MiB in three) between repeated ones: it deflates to
    about a third, like a mix of media and text."""
    block = 1 << 20
    pattern = bytes(range(256)) * (block // 256)
    with open(path, "wb") as f:
        for i in range(megabytes):
            f.write(os.urandom(block) if i % 3 == 0 else pattern)


def wine(build, program, *argv, env=None, cwd=None, timeout=1800, watch=False):
    """Runs a program under the build's wine session through the tests' runner
    (output in files, a time limit); returns (seconds, peak resident KiB or 0,
    exit code)."""
    environment = dict(os.environ, WINEDEBUG="-all")
    environment.update(env or {})
    peak = 0
    started = time.monotonic()
    with winrun.Program([os.path.join(SOURCE, "cmake", "wine-run.sh"), build, program, *argv], cwd=cwd,
                        env=environment, timeout=timeout) as proc:
        while proc.running():
            if watch:
                peak = max(peak, winrun.peak_memory_kib(program))
            time.sleep(0.1)
        seconds = time.monotonic() - started
        if proc.returncode != 0:
            sys.stderr.write(proc.stdout.decode("utf-8", "replace")[-3000:])
    return seconds, peak, proc.returncode


def build_package(build, stub, src, work):
    seconds, _, code = wine(build, stub, cwd=src, env={"KELVANE_TEMP_DIR": os.path.join(work, "buildtemp")})
    if code != 0:
        sys.exit("the stub could not build the package")
    os.replace(os.path.join(src, "install_test.exe"), os.path.join(work, "install_test.exe"))
    print("package built in %.1f s: %.0f MB" % (seconds, os.path.getsize(os.path.join(work, "install_test.exe")) / 1e6))


def prepare(work, build, stub, fakesetup, icon, tree_mb, big_mb, app_mb):
    src = os.path.join(work, "src")
    marker = os.path.join(work, "prepared-%d-%d-%d" % (tree_mb, big_mb, app_mb))
    package = os.path.join(work, "install_test.exe")
    if os.path.exists(marker):
        if os.path.getmtime(stub) > os.path.getmtime(package):
            build_package(build, stub, src, work)  # a newer stub: the same tree, packed again
        return
    shutil.rmtree(work, ignore_errors=True)
    setup = os.path.join(src, "setup")
    os.makedirs(setup)
    count, size = copy_real_files(os.path.join(setup, "files"), tree_mb)
    write_mixed_file(os.path.join(setup, "files", "large.bin"), big_mb)
    shutil.copyfile(fakesetup, os.path.join(setup, "qSetup.exe"))
    shutil.copyfile(icon, os.path.join(setup, "uninstallicon.ico"))
    with open(os.path.join(setup, "config.xml"), "w") as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\n<setup>\n  <source path="" />\n</setup>\n')
    app = os.path.join(src, "app")
    os.makedirs(app)
    write_mixed_file(os.path.join(app, "app.bin"), app_mb)
    print("tree: %d real files, %.0f MB, plus a %d MiB mixed file; app archive source %d MiB" %
          (count, size / 1e6, big_mb, app_mb), flush=True)

    build_package(build, stub, src, work)

    script = os.path.join(src, "bench.nsi")
    with open(script, "w") as f:
        f.write('Unicode true\nTarget amd64-unicode\nName "bench"\nOutFile "%s"\nSetCompressor zlib\nRequestExecutionLevel user\n'
                'SilentInstall silent\nInstallDir "$TEMP\\nsisbench"\nSection\n  SetOutPath "$INSTDIR"\n'
                '  File /r "setup\\*.*"\nSectionEnd\n' % os.path.join(work, "nsis_installer.exe"))
    with tempfile.TemporaryFile() as out:
        if subprocess.run(["makensis", "-V2", script], cwd=src, stdout=out, stderr=out).returncode != 0:
            out.seek(0)
            sys.exit("makensis failed:\n" + out.read().decode("utf-8", "replace")[-3000:])
    print("NSIS installer built: %.0f MB" % (os.path.getsize(os.path.join(work, "nsis_installer.exe")) / 1e6))
    open(marker, "w").close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(SOURCE, "build", "windows"))
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--tree-mb", type=int, default=200, help="real files copied into the setup tree")
    parser.add_argument("--big-mb", type=int, default=105, help="size of the one large file, MiB")
    parser.add_argument("--app-mb", type=int, default=10, help="size of the app archive's file, MiB")
    parser.add_argument("--work", help="work folder (default: BUILD/bench-extract)")
    parser.add_argument("--only", choices=("loader", "nsis"), help="run one side only")
    a = parser.parse_args()
    build = os.path.abspath(a.build)
    work = os.path.abspath(a.work or os.path.join(build, "bench-extract"))
    stub = os.path.join(build, "kelvane.exe")
    fakesetup = os.path.join(build, "tests", "e2e", "fakesetup.exe")
    if not shutil.which("makensis"):
        sys.exit("makensis not found: apt-get install nsis")
    session = os.path.join(SOURCE, "cmake", "wine-session.sh")
    # wine's desktop process is kept up for the whole session, as the tests do
    # and as a Windows desktop always has it, so that no run pays for starting it.
    holder = os.path.join(build, "tests", "holdwindow.exe")
    subprocess.run([session, "start", build, holder], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        measure(a, build, work, stub, fakesetup)
    finally:
        subprocess.run([session, "stop", build], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def measure(a, build, work, stub, fakesetup):
    prepare(work, build, stub, fakesetup, os.path.join(SOURCE, "examples", "setup", "uninstallicon.ico"),
            a.tree_mb, a.big_mb, a.app_mb)

    temp = os.path.join(work, "temp")
    target = os.path.join(temp, "nsis")
    sides = {
        "loader": (os.path.join(work, "install_test.exe"), ("1", winpath(os.path.join(work, "installed")))),
        "nsis": (os.path.join(work, "nsis_installer.exe"), ("/S", "/D=" + winpath(target))),
    }
    expected = sum(len(files) for _, _, files in os.walk(os.path.join(work, "src", "setup")))
    names = [a.only] if a.only else ["loader", "nsis"]
    times = {n: [] for n in names}
    peaks = {n: [] for n in names}
    with open("/proc/loadavg") as f:
        print("load average before: " + " ".join(f.read().split()[:3]), flush=True)
    for run in range(a.runs):
        for name in names:
            shutil.rmtree(temp, ignore_errors=True)
            os.makedirs(temp)
            subprocess.run(["sync"])
            program, argv = sides[name]
            seconds, peak, code = wine(build, program, *argv, env={"KELVANE_TEMP_DIR": temp}, watch=True)
            if code != 0:
                sys.exit("%s exited with %d" % (name, code))
            installed = sum(len(files) for _, _, files in os.walk(temp))
            if installed < expected:
                sys.exit("%s left %d files of %d: nothing to compare" % (name, installed, expected))
            times[name].append(seconds)
            peaks[name].append(peak)
            print("run %d %-6s %6.2f s  peak %6.1f MiB" % (run + 1, name, seconds, peak / 1024), flush=True)
    with open("/proc/loadavg") as f:
        print("load average after: " + " ".join(f.read().split()[:3]))
    for name in names:
        print("%-6s median %.2f s  peak %.1f MiB (highest of %d runs)" %
              (name, statistics.median(times[name]), max(peaks[name]) / 1024, a.runs))
    if len(names) == 2:
        print("loader/nsis time ratio %.2f" % (statistics.median(times["loader"]) / statistics.median(times["nsis"])))
    shutil.rmtree(temp, ignore_errors=True)


if __name__ == "__main__":
    main()
