"""Writes seed inputs for fuzz_peresources into a folder: small PE32 and
PE32+ images laid out as the stub is (.text, .rsrc, .reloc), with resource
trees of icons, an icon group, a version resource and named entries, one
with the stub's zero padding, one with a data section after the resources.
    python3 fuzz/peresources_seeds.py CORPUS_FOLDER"""
import os
import struct
import sys


def tree(leaves, va):
    """A resource section: directories depth first, names, data entries, data."""
    types = {}
    for kind, name, language, data in leaves:
        types.setdefault(kind, {}).setdefault(name, []).append((language, data))
    out, names, entries = bytearray(), [], []

    def directory(items):
        at = len(out)
        named = sum(1 for key, _ in items if isinstance(key, str))
        out.extend(struct.pack("<IIHHHH", 0, 0, 0, 0, named, len(items) - named))
        slots = len(out)
        out.extend(bytes(8 * len(items)))
        for i, (key, below) in enumerate(items):
            slot = slots + 8 * i
            if isinstance(key, str):
                names.append((slot, key))
            else:
                struct.pack_into("<I", out, slot, key)
            if isinstance(below, bytes):
                entries.append((slot + 4, below))
            else:
                struct.pack_into("<I", out, slot + 4, 0x80000000 | directory(below))
        return at

    directory([(k, [(n, [(l, d) for l, d in langs]) for n, langs in names_.items()]) for k, names_ in types.items()])
    for slot, text in names:
        struct.pack_into("<I", out, slot, 0x80000000 | len(out))
        out.extend(struct.pack("<H", len(text)) + text.encode("utf-16-le"))
    while len(out) % 4:
        out.append(0)
    places = []
    for slot, data in entries:
        struct.pack_into("<I", out, slot, len(out))
        places.append(len(out))
        out.extend(bytes(16))
    for place, (_, data) in zip(places, entries):
        while len(out) % 8:
            out.append(0)
        struct.pack_into("<II", out, place, va + len(out), len(data))
        out.extend(data)
    return bytes(out)


def image(pe32plus, leaves, padding=0, data_after=False):
    rsrc = tree(leaves, 0x2000)
    reloc = struct.pack("<IIHH", 0x1000, 12, 0xA010, 0xA020)
    align = lambda v, a: (v + a - 1) // a * a
    sections = [(b".text", 0x1000, b"\xcc" * 0x100, 0x60000020), (b".rsrc", 0x2000, rsrc, 0xC0000040),
                (b".data" if data_after else b".reloc", 0x2000 + align(len(rsrc), 0x1000), reloc, 0x42000040)]
    optional_size = 240 if pe32plus else 224
    head = bytearray(0x400)
    head[0:2] = b"MZ"
    struct.pack_into("<I", head, 0x3C, 0x80)
    struct.pack_into("<IHHIIIHH", head, 0x80, 0x4550, 0x8664 if pe32plus else 0x14C, 3, 0, 0, 0, optional_size, 0x22)
    optional = 0x98
    struct.pack_into("<H", head, optional, 0x20B if pe32plus else 0x10B)
    struct.pack_into("<II", head, optional + 32, 0x1000, 0x200)
    struct.pack_into("<II", head, optional + 56, sections[2][1] + 0x1000, 0x400)
    directories = optional + (112 if pe32plus else 96)
    struct.pack_into("<I", head, directories - 4, 16)
    struct.pack_into("<II", head, directories + 16, 0x2000, len(rsrc))
    if not data_after:
        struct.pack_into("<II", head, directories + 40, sections[2][1], len(reloc))
    body, raw = bytearray(), 0x400
    for i, (name, va, data, flags) in enumerate(sections):
        size = align(len(data), 0x200)
        struct.pack_into("<8sIIIIIIHHI", head, optional + optional_size + 40 * i, name, len(data), va, size, raw,
                         0, 0, 0, 0, flags)
        body += data + bytes(size - len(data))
        raw += size
    return bytes(head) + bytes(body) + bytes(padding)


def group(ids):
    return struct.pack("<HHH", 0, 1, len(ids)) + b"".join(struct.pack("<BBBBHHIH", 16, 16, 0, 0, 1, 32, 40, i)
                                                          for i in ids)


def version(tag):
    key = "VS_VERSION_INFO\0".encode("utf-16-le")
    body = struct.pack("<HH", 0, 1) + key + tag
    return struct.pack("<H", len(body) + 2) + body


LEAVES = [(3, 1, 1033, b"image one"), (3, 2, 1033, b"image two"), (14, 1, 1033, group([1, 2])),
          (16, 1, 1033, version(b"stub")), (24, 1, 1033, b"<manifest/>"), ("MYTYPE", "Alpha", 7, b"a"),
          (3, 1, 1031, b"ein Bild"), (14, "MAIN", 1031, group([1]))]

if __name__ == "__main__":
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    seeds = {
        "pe32plus-stub": image(True, LEAVES[:5]),
        "pe32-stub": image(False, LEAVES[:5]),
        "pe32plus-named": image(True, LEAVES),
        "pe32plus-padded": image(True, LEAVES[:3], padding=0x800),
        "pe32plus-data-after": image(True, LEAVES[:3], data_after=True),
        "pe32-version-only": image(False, [(16, 1, 1031, version(b"vendor"))]),
        "pe32plus-empty-tree": image(True, []),
    }
    for name, data in seeds.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
