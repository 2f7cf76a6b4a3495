"""Debian's python3-pefile, an independent PE parser, for the tests: a file
must load whole with nothing to warn about."""
import sys

try:
    import pefile
except ImportError:  # Debian's package, when python3 is not Debian's own
    sys.path.append("/usr/lib/python3/dist-packages")
    import pefile


def loaded(path):
    """The file loaded whole by pefile; AssertionError when pefile warns."""
    pe = pefile.PE(path)
    warnings = pe.get_warnings()
    if warnings:
        raise AssertionError("pefile warns about %s: %s" % (path, warnings))
    return pe
