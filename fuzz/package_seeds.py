"""Writes seed inputs for fuzz_packagereader into a folder: the bytes that
follow its 8-byte stub, i.e. setup archive, app archive and trailer.
    python3 fuzz/package_seeds.py CORPUS_FOLDER"""
import hashlib
import io
import os
import struct
import sys
import zipfile

STUB = 8  # the fuzz target writes "MZ-stub-" first


def digest(data):
    step = len(data) // 9
    if step >= 4096:
        data = b"".join(data[i * step:i * step + 4096] for i in range(8)) + data[-4096:]
    return hashlib.md5(data).hexdigest().encode()


def archive(entries, method=zipfile.ZIP_DEFLATED):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", method, compresslevel=9 if method == zipfile.ZIP_DEFLATED else None) as z:
        for name, data in entries:
            z.writestr(zipfile.ZipInfo(name, (1980, 1, 1, 0, 0, 0)), data)
    return buffer.getvalue()


def package(setup, app):
    return setup + app + struct.pack("<I32sI32s", STUB, digest(setup), STUB + len(setup), digest(app))


def renamed_local(data, old, new):
    """The first local header names `new`, the central directory still `old`."""
    at = data.index(old)
    header = data.rfind(b"PK\x03\x04", 0, at)
    data = data[:header + 26] + struct.pack("<H", len(new)) + data[header + 28:at] + new + data[at + len(old):]
    shift = len(new) - len(old)
    central = data.rindex(b"PK\x05\x06")
    count, size, offset = struct.unpack_from("<HII", data, central + 10)
    data = data[:central + 16] + struct.pack("<I", offset + shift) + data[central + 20:]
    pos = offset + shift
    for _ in range(count):
        local = struct.unpack_from("<I", data, pos + 42)[0]
        if local > header:
            data = data[:pos + 42] + struct.pack("<I", local + shift) + data[pos + 46:]
        n, m, k = struct.unpack_from("<HHH", data, pos + 28)
        pos += 46 + n + m + k
    return data


def with_method(data, name, method):
    """The entry `name` marked as stored with `method` in its local header and
    its directory record, data and CRC left as they are."""
    local, central = data.index(name) - 30, data.rindex(name) - 46
    data = bytearray(data)
    data[local + 8:local + 10] = data[central + 10:central + 12] = struct.pack("<H", method)
    return bytes(data)


def with_crc(data, name, crc):
    """The entry `name` with another CRC in its local header and directory record."""
    local, central = data.index(name) - 30, data.rindex(name) - 46
    data = bytearray(data)
    data[local + 14:local + 18] = data[central + 16:central + 20] = struct.pack("<I", crc)
    return bytes(data)


def main(folder):
    os.makedirs(folder, exist_ok=True)
    empty = archive([])
    files = [("setup\\qSetup.exe", os.urandom(300)), ("setup\\config.xml", b"<source path=''/>"),
             ("setup\\a\\b\\c.txt", b"deep"), ("setup\\empty", b"")]
    seeds = {
        "builder": package(archive(files), archive([("app\\x.ini", b"[x]")])),
        "stored": package(archive(files, zipfile.ZIP_STORED), empty),
        "empty": package(empty, empty),
        "folders": package(archive([("setup/", b""), ("setup/sub/", b""), ("setup/sub/f.txt", b"f")]), empty),
        "mismatch": package(renamed_local(archive(files), b"setup\\config.xml", b"x"), empty),
        "hostile names": package(archive([("..\\up.txt", b"u"), ("C:\\x", b"c"), ("NUL.txt", b"n")]), empty),
        "outside and aliases": package(archive(files + [
            ("evil.dll", b"e"), ("Low\\x.dll", b"l"), ("setup\\QSETUP.EXE", b"q"), ("setup\\qsetup.exe. ", b"q"),
            ("setup\\QSETUP~1.EXE", b"q"), ("setup\\a\\b\\c.txt\\d", b"d")]), empty),
        "method 12": package(with_crc(with_method(archive(files + [("setup\\m12.bin", b"twelve")], zipfile.ZIP_STORED),
                                                  b"setup\\m12.bin", 12), b"setup\\m12.bin", 0x12345678), empty),
    }
    for name, data in seeds.items():
        with open(os.path.join(folder, name.replace(" ", "-")), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main(sys.argv[1])
