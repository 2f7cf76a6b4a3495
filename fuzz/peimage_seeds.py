"""Writes seed inputs for fuzz_peimage into a folder: small PE images, PE32
and PE32+, unsigned, signed (padded to 8, one certificate table entry),
with a table of two entries, and with the signature removed again.
    python3 fuzz/peimage_seeds.py CORPUS_FOLDER"""
import os
import struct
import sys


def image(pe32plus, size=0x7FD):  # no multiple of 8: signing pads
    data = bytearray(size)
    data[0:2] = b"MZ"
    struct.pack_into("<I", data, 0x3C, 0x80)
    optional_size = 240 if pe32plus else 224
    struct.pack_into("<IHHIIIHH", data, 0x80, 0x4550, 0x8664 if pe32plus else 0x14C, 2, 0, 0, 0, optional_size, 0x22)
    optional = 0x98
    struct.pack_into("<H", data, optional, 0x20B if pe32plus else 0x10B)
    struct.pack_into("<I", data, optional + (108 if pe32plus else 92), 16)
    sections = optional + optional_size
    for i, (offset, length) in enumerate(((0x200, 0x200), (0x400, 0x200))):
        struct.pack_into("<8sIIII", data, sections + 40 * i, b".s%d" % i, length, 0x1000 * (i + 1), length, offset)
    data[size - 72:] = b"\x00\xc4\x1d\x00" + b"0" * 32 + b"\x00\xc4\x1d\x00" + b"f" * 32  # a trailer's shape
    return bytes(data)


def security_entry(data):
    optional = 0x98
    return optional + (112 if struct.unpack_from("<H", data, optional)[0] == 0x20B else 96) + 32


def sign(data, entries=(37,)):
    padded = bytearray(data + bytes(-len(data) % 8))
    table = b""
    for blob in entries:
        entry = struct.pack("<IHH", 8 + blob, 0x200, 2) + bytes(range(blob))
        table += entry + bytes(-len(entry) % 8)
    struct.pack_into("<II", padded, security_entry(padded), len(padded), len(table))
    return bytes(padded) + table


def unsign(signed):
    at = security_entry(signed)
    address = struct.unpack_from("<I", signed, at)[0]
    data = bytearray(signed[:address])
    struct.pack_into("<II", data, at, 0, 0)
    return bytes(data)


def main(folder):
    os.makedirs(folder, exist_ok=True)
    for kind, pe32plus in (("pe32", False), ("pe32plus", True)):
        plain = image(pe32plus)
        seeds = {"unsigned": plain, "signed": sign(plain), "two-entries": sign(plain, (61, 15)),
                 "removed": unsign(sign(plain))}
        for name, data in seeds.items():
            with open(os.path.join(folder, "%s-%s" % (kind, name)), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main(sys.argv[1])
