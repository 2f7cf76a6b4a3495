"""Writes the raw seed inputs of every fuzz target, one folder per target,
before they are minimized into fuzz/corpus/ (see fuzz/README.md):
    python3 fuzz/seeds.py OUT_FOLDER [PACKAGE.exe ...] [ICON.ico ...]
PACKAGE.exe: packages written by the real builder (their payload is rebased
behind the package reader target's 8-byte stub); ICON.ico: real icon files."""
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import package_seeds  # noqa: E402

CONFIG = """<?xml version="1.0" encoding="{encoding}"?>
<!-- the installer's configuration -->
<setup>
  <source path="C:\\old\\install_test.exe" />
  <product name="{name}" version="1.0"/>
  <text><![CDATA[a < b & c]]></text>
  <empty></empty>
</setup>
"""

# (file name, encoding declared, product name, bytes as written)
TEXT_FILES = [
    ("utf8.xml", "UTF-8", "caf\u00e9 \u4e2d", lambda t: t.encode("utf-8")),
    ("utf8-bom.xml", "UTF-8", "caf\u00e9 \u4e2d", lambda t: b"\xef\xbb\xbf" + t.encode("utf-8")),
    ("utf16le.xml", "UTF-16", "caf\u00e9 \u4e2d", lambda t: b"\xff\xfe" + t.encode("utf-16-le")),
    ("utf16be.xml", "UTF-16", "caf\u00e9 \u4e2d", lambda t: b"\xfe\xff" + t.encode("utf-16-be")),
    ("windows-1252.xml", "windows-1252", "caf\u00e9 \u20ac", lambda t: t.encode("cp1252")),
    ("shift_jis.xml", "Shift_JIS", "\u65e5\u672c\u8a9e", lambda t: t.encode("shift_jis")),
    ("koi8-r.xml", "KOI8-R", "\u0444\u0430\u0439\u043b", lambda t: t.encode("koi8_r")),
    ("undeclared.xml", "", "plain", lambda t: t.replace(' encoding=""', "").encode("ascii")),
]


def write(folder, name, data):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def rebased(package):
    """A real package's archives and trailer, with the trailer's offsets
    moved from behind the real stub to behind the fuzz target's."""
    setup, setup_digest, app, app_digest = struct.unpack("<I32sI32s", package[-72:])
    shift = setup - package_seeds.STUB  # the stub with its new icon, whatever its length
    trailer = struct.pack("<I32sI32s", setup - shift, setup_digest, app - shift, app_digest)
    return package[setup:-72] + trailer


def main(out, files):
    package_seeds.main(os.path.join(out, "fuzz_packagereader"))
    for path in files:
        with open(path, "rb") as f:
            data = f.read()
        name = os.path.basename(path)
        if path.endswith(".exe"):
            write(os.path.join(out, "fuzz_packagereader"), "built-" + name, rebased(data))
        else:
            write(os.path.join(out, "fuzz_iconfile"), name, data)
    for name, encoding, product, encode in TEXT_FILES:
        text = CONFIG.format(encoding=encoding, name=product)
        write(os.path.join(out, "fuzz_xmltextfile"), name, encode(text))
        # The parse-and-edit target reads its input as UTF-16 in memory order.
        write(os.path.join(out, "fuzz_xmlparse"), name, text.encode("utf-16-le"))


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2:])
