#!/usr/bin/env python3
"""The native builder command against builder mode under wine, Info-ZIP zip
and NSIS, on bench/build.py's payload (about 300 MB), in one run.

    bench/native.py [--native build/release/kelvane] [--build build/windows]
                    [--payload DIR] [--rounds 3]

Each round runs, one at a time and in turn: `kelvane build` (the release
build: no sanitizers), the stub's builder mode under wine, `zip -9 -r -X` and
`makensis` with `SetCompressor zlib` (Debian's nsis package), each on the
folders "app" and "setup". Printed: wall times per round and their medians,
ratios to zip, peak resident memory, output sizes, the load average, and
whether the native and the wine package are the same bytes.
"""
import argparse
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import build as common  # noqa: E402  bench/build.py: payload, timing

SOURCE = os.path.dirname(HERE)

NSIS_SCRIPT = """OutFile "{out}"
SetCompressor zlib
RequestExecutionLevel user
SilentInstall silent
InstallDir "$TEMP\\kelvanebench"
Section
  SetOutPath "$INSTDIR"
  File /r "app"
  File /r "setup"
SectionEnd
"""


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--native", default=os.path.join(SOURCE, "build", "release", "kelvane"))
    parser.add_argument("--build", default=os.path.join(SOURCE, "build", "windows"))
    parser.add_argument("--payload", default=os.path.join(tempfile.gettempdir(), "kelvane-bench-payload"))
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    if os.path.getsize(os.path.join(build, "kelvane.exe")) != 1950720:
        sys.exit("%s is not the bare stub" % os.path.join(build, "kelvane.exe"))
    if not os.access(args.native, os.X_OK):
        sys.exit("%s missing: cmake --preset release && cmake --build --preset release" % args.native)
    if not shutil.which("makensis"):
        sys.exit("makensis not found: apt-get install nsis")
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("stopped"))

    common.make_payload(args.payload)
    work = args.payload
    stub = os.path.join(work, "kelvane.exe")
    shutil.copyfile(os.path.join(build, "kelvane.exe"), stub)
    files, size = common.tree_stats(work)
    print("payload: %s, %d files, %.1f MB" % (work, files, size / 1e6))
    with open(os.path.join(work, "bench.nsi"), "w") as f:
        f.write(NSIS_SCRIPT.format(out=os.path.join(work, "nsis.exe")))

    outputs = {"native": "native.exe", "wine": "install_test.exe", "zip": "zip.zip", "makensis": "nsis.exe"}
    commands = {
        "native": [args.native, "build", work, "--stub", stub, "--output", os.path.join(work, "native.exe")],
        "wine": [os.path.join(SOURCE, "cmake", "wine-run.sh"), build, stub],
        "zip": ["zip", "-9", "-r", "-X", "-q", os.path.join(work, "zip.zip"), "app", "setup"],
        "makensis": ["makensis", "-V1", os.path.join(work, "bench.nsi")],
    }
    session = os.path.join(SOURCE, "cmake", "wine-session.sh")
    holder = os.path.join(build, "tests", "holdwindow.exe")
    subprocess.run([session, "start", build, holder], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        env = dict(os.environ, KELVANE_TEMP_DIR=os.path.join(work, "temp"), LC_ALL="C.UTF-8")
        common.read_through(work)
        print("usable processors: %d; load average before: %s" % (len(os.sched_getaffinity(0)), common.load()))
        times = {name: [] for name in commands}
        peaks = {name: 0 for name in commands}
        for round_ in range(1, args.rounds + 1):
            line = []
            for name, command in commands.items():
                target = os.path.join(work, outputs[name])
                if os.path.exists(target):
                    os.remove(target)
                elapsed, peak, _ = common.run_timed(command, work, env, os.path.join(work, name + ".log"))
                times[name].append(elapsed)
                peaks[name] = max(peaks[name], peak)
                line.append("%s %.2f s" % (name, elapsed))
            print("round %d: %s" % (round_, ", ".join(line)))
        print("load average after: %s" % common.load())
        zip_time = statistics.median(times["zip"])
        print("%-9s %10s %9s %12s %14s" % ("", "median s", "/ zip -9", "peak MiB", "output bytes"))
        for name in commands:
            median = statistics.median(times[name])
            print("%-9s %10.2f %9.3f %12.1f %14d" % (name, median, median / zip_time, peaks[name] / 1024,
                                                      os.path.getsize(os.path.join(work, outputs[name]))))
        same = subprocess.run(["cmp", os.path.join(work, "native.exe"), os.path.join(work, "install_test.exe")],
                              capture_output=True, text=True)
        print("native and wine packages: %s" % ("identical (cmp)" if same.returncode == 0 else same.stdout.strip()))
    finally:
        subprocess.run([session, "stop", build], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        shutil.rmtree(os.path.join(work, "temp"), ignore_errors=True)
        for name in list(outputs.values()) + ["bench.nsi", "kelvane.exe"] + [n + ".log" for n in commands]:
            if os.path.exists(os.path.join(work, name)):
                os.remove(os.path.join(work, name))


if __name__ == "__main__":
    main()
