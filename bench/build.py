#!/usr/bin/env python3
"""Builder throughput against Info-ZIP zip.

Runs the real stub's builder under wine and `zip -9 -r -X` on the same "app"
and "setup" folders, alternately, and prints both wall times, their ratio,
the builder's peak memory and the archive sizes, with the size that zlib
level 9 gives when it compresses each file as one unbroken stream.

    bench/build.py [--build build/windows] [--payload DIR] [--rounds 3]

The payload (about 300 MB: real files copied from /usr/lib and /usr/share,
and one 100 MB file that mixes text and binary) is made in DIR on the first
run and reused after. The build tree's wine session (with wine's desktop kept up,
as a Windows desktop always has it) is started for the runs
and stopped at the end. Both programs run under the same conditions, one at a
time; the load average is printed because other work on the machine distorts
wall times.
"""
import argparse
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import zipfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
MB = 1 << 20


def regular_files(top, limit, largest):
    """Regular files below top, in sorted order, until `limit` bytes."""
    chosen, total = [], 0
    for folder, dirs, names in os.walk(top):
        dirs.sort()
        for name in sorted(names):
            path = os.path.join(folder, name)
            if os.path.islink(path) or not os.path.isfile(path) or not os.access(path, os.R_OK):
                continue
            size = os.path.getsize(path)
            if size == 0 or size > largest:
                continue
            if total + size > limit:
                return chosen
            chosen.append(path)
            total += size
    return chosen


def copy_files(paths, top, target):
    for path in paths:
        destination = os.path.join(target, os.path.relpath(path, top))
        os.makedirs(os.path.dirname(destination), exist_ok=True)
        shutil.copyfile(path, destination)


def mixed_file(path, sources, size):
    """Text and binary in turns: 256 KiB pieces of real files."""
    piece = 256 * 1024
    with open(path, "wb") as out:
        written, turn = 0, 0
        while written < size:
            with open(sources[turn % len(sources)], "rb") as f:
                f.seek((turn // len(sources)) * piece % max(1, os.path.getsize(f.name) - piece))
                data = f.read(min(piece, size - written))
            out.write(data)
            written += len(data)
            turn += 1


def make_payload(payload):
    if os.path.isfile(os.path.join(payload, "ready")):
        return
    shutil.rmtree(payload, ignore_errors=True)
    app, setup = os.path.join(payload, "app"), os.path.join(payload, "setup")
    for top, target, limit in (("/usr/lib/x86_64-linux-gnu", "lib", 110 * MB),
                               ("/usr/share/locale", "locale", 30 * MB),
                               ("/usr/share/doc", "doc", 30 * MB),
                               ("/usr/lib/python3", "python3", 30 * MB)):
        copy_files(regular_files(top, limit, 20 * MB), top, os.path.join(app, target))
    text = [p for p in regular_files("/usr/share/doc", 40 * MB, 4 * MB) if os.path.getsize(p) > 300 * 1024]
    binary = [p for p in regular_files("/usr/lib/x86_64-linux-gnu", 400 * MB, 40 * MB) if os.path.getsize(p) > 2 * MB]
    sources = [p for pair in zip(text, binary) for p in pair] or binary
    mixed_file(os.path.join(app, "mixed.bin"), sources, 100 * MB)

    copy_files(regular_files(os.path.join(SOURCE, "examples", "setup"), 10 * MB, 10 * MB),
               os.path.join(SOURCE, "examples", "setup"), setup)
    copy_files(regular_files("/usr/share/i18n", 3 * MB, 1 * MB), "/usr/share", setup)
    copy_files(regular_files("/usr/lib/x86_64-linux-gnu/wine/x86_64-windows", MB, MB), "/usr/lib/x86_64-linux-gnu/wine", setup)
    with open(os.path.join(payload, "ready"), "w") as f:
        f.write("made %s\n" % time.ctime())


def tree_stats(payload):
    files = size = 0
    for top in ("app", "setup"):
        for folder, _, names in os.walk(os.path.join(payload, top)):
            files += len(names)
            size += sum(os.path.getsize(os.path.join(folder, name)) for name in names)
    return files, size


def single_stream_size(payload):
    """Sum over all files of raw deflate, level 9, in one stream each (cached)."""
    cache = os.path.join(payload, "single-stream.json")
    if os.path.isfile(cache):
        with open(cache) as f:
            return json.load(f)["bytes"]
    total = 0
    for top in ("app", "setup"):
        for folder, _, names in os.walk(os.path.join(payload, top)):
            for name in names:
                z = zlib.compressobj(9, zlib.DEFLATED, -15, 8, zlib.Z_DEFAULT_STRATEGY)
                with open(os.path.join(folder, name), "rb") as f:
                    while block := f.read(MB):
                        total += len(z.compress(block))
                total += len(z.flush())
    with open(cache, "w") as f:
        json.dump({"bytes": total}, f)
    return total


def run_timed(command, cwd, env, log):
    """Wall time, peak resident memory (KiB) and processor time of a command
    and what it waited for."""
    with open(log, "wb") as out:
        start = time.monotonic()
        process = subprocess.Popen(command, cwd=cwd, env=env, stdout=out, stderr=subprocess.STDOUT,
                                   stdin=subprocess.DEVNULL)
        _, status, usage = os.wait4(process.pid, 0)
        elapsed = time.monotonic() - start
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0:
        sys.exit("%s failed with %d; see %s" % (command[0], process.returncode, log))
    return elapsed, usage.ru_maxrss, usage.ru_utime + usage.ru_stime


def compressed_bytes(archive):
    with zipfile.ZipFile(archive) as z:
        return sum(i.compress_size for i in z.infolist()), len(z.infolist())


def read_through(payload):
    """Reads every file once, so that both programs find the payload in the page cache."""
    for top in ("app", "setup"):
        for folder, _, names in os.walk(os.path.join(payload, top)):
            for name in names:
                with open(os.path.join(folder, name), "rb") as f:
                    while f.read(MB):
                        pass


def load():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(SOURCE, "build", "windows"))
    parser.add_argument("--payload", default=os.path.join(tempfile.gettempdir(), "kelvane-bench-payload"))
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    if os.path.getsize(os.path.join(build, "kelvane.exe")) != 1950720:
        sys.exit("%s is not the bare stub" % os.path.join(build, "kelvane.exe"))
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("stopped"))  # still stop the wine session

    make_payload(args.payload)
    # A copy, so that rebuilding the stub meanwhile changes nothing.
    stub = os.path.join(args.payload, "kelvane.exe")
    shutil.copyfile(os.path.join(build, "kelvane.exe"), stub)
    files, size = tree_stats(args.payload)
    print("payload: %s, %d files, %.1f MB" % (args.payload, files, size / 1e6))
    single = single_stream_size(args.payload)

    work = args.payload  # the builder takes "app" and "setup" from its current folder
    session = os.path.join(SOURCE, "cmake", "wine-session.sh")
    # wine's desktop process is kept up for the whole session, as the tests do
    # and as a Windows desktop always has it, so that no run pays for starting it.
    holder = os.path.join(build, "tests", "holdwindow.exe")
    subprocess.run([session, "start", build, holder], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        temp = os.path.join(work, "temp")
        env = dict(os.environ, KELVANE_TEMP_DIR=temp, LC_ALL="C.UTF-8")
        builder_cmd = [os.path.join(SOURCE, "cmake", "wine-run.sh"), build, stub]
        zip_cmd = ["zip", "-9", "-r", "-X", "-q", os.path.join(work, "zip.zip"), "app", "setup"]
        read_through(args.payload)
        print("usable processors: %d; load average before: %s" % (len(os.sched_getaffinity(0)), load()))
        print("%-6s %10s %10s %8s %14s %16s" % ("round", "builder s", "zip s", "ratio", "builder peak",
                                                "processor s b/z"))
        rows = []
        for round_ in range(1, args.rounds + 1):
            for name in ("install_test.exe", "zip.zip"):
                if os.path.exists(os.path.join(work, name)):
                    os.remove(os.path.join(work, name))
            b, peak, bcpu = run_timed(builder_cmd, work, env, os.path.join(work, "builder.log"))
            z, _, zcpu = run_timed(zip_cmd, work, env, os.path.join(work, "zip.log"))
            rows.append((b, z, peak))
            print("%-6d %10.2f %10.2f %8.3f %10.1f MiB %8.1f/%.1f" % (round_, b, z, b / z, peak / 1024, bcpu, zcpu))
        print("load average after: %s" % load())
        builder_total, zip_total = sum(r[0] for r in rows), sum(r[1] for r in rows)
        print("total  %10.2f %10.2f %8.3f %11.1f MiB (highest)" % (builder_total, zip_total,
                                                                   builder_total / zip_total, max(r[2] for r in rows) / 1024))

        archives = [os.path.join(temp, "test.zip"), os.path.join(temp, "qlib.zip")]
        builder_bytes = sum(os.path.getsize(a) for a in archives)
        builder_data = sum(compressed_bytes(a)[0] for a in archives)
        entries = sum(compressed_bytes(a)[1] for a in archives)
        zip_bytes = os.path.getsize(os.path.join(work, "zip.zip"))
        print("archives: builder %d bytes (test.zip + qlib.zip, %d entries), package %d bytes, zip %d bytes" %
              (builder_bytes, entries, os.path.getsize(os.path.join(work, "install_test.exe")), zip_bytes))
        print("compressed data: builder %d bytes, zlib level 9 one stream per file %d bytes: %+.3f %%" %
              (builder_data, single, 100.0 * (builder_data - single) / single))
    finally:
        subprocess.run([session, "stop", build], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        shutil.rmtree(os.path.join(work, "temp"), ignore_errors=True)
        for name in ("install_test.exe", "zip.zip", "builder.log", "zip.log", "kelvane.exe"):
            if os.path.exists(os.path.join(work, name)):
                os.remove(os.path.join(work, name))


if __name__ == "__main__":
    main()
