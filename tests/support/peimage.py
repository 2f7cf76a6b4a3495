"""Where a package's own bytes end, by the same rule as package/peimage.h:
before a certificate table that signing appended (named by the security data
directory, after the last section, ending at the end of the file, with a
sound first entry header) and before up to 7 zero bytes of padding."""
import struct

TRAILER = 72


def _u16(data, offset):
    return struct.unpack_from("<H", data, offset)[0] if 0 <= offset <= len(data) - 2 else None


def _u32(data, offset):
    return struct.unpack_from("<I", data, offset)[0] if 0 <= offset <= len(data) - 4 else None


def headers(data):
    """(checksum offset, security entry offset, end of sections) or None."""
    if len(data) < 0x40 or _u16(data, 0) != 0x5A4D:
        return None
    pe = _u32(data, 0x3C)
    if _u32(data, pe) != 0x4550 or _u16(data, pe + 20) is None:
        return None
    sections, optional_size = _u16(data, pe + 6), _u16(data, pe + 20)
    optional = pe + 24
    first = {0x10B: 96, 0x20B: 112}.get(_u16(data, optional))
    if first is None or optional_size < first + 40 or (_u32(data, optional + first - 4) or 0) <= 4:
        return None
    table = optional + optional_size
    end = table + 40 * sections
    if end > len(data):
        return None
    for i in range(sections):
        raw_size, raw_offset = struct.unpack_from("<II", data, table + 40 * i + 16)
        if raw_size:
            end = max(end, raw_offset + raw_size)
    return optional + 64, optional + first + 32, end


def certificate_table(data):
    """(start, size) of the certificate table, or None."""
    found = headers(data)
    if not found:
        return None
    address, size = struct.unpack_from("<II", data, found[1])
    if size < 8 or address < found[2] or address + size != len(data):
        return None
    length, revision = _u32(data, address), _u16(data, address + 4)
    if length is None or revision is None or not 8 <= length <= size or revision not in (0x100, 0x200):
        return None
    return address, size


def data_end(data):
    table = certificate_table(data)
    end = table[0] if table else len(data)
    for _ in range(7):
        if end == 0 or data[end - 1] != 0:
            break
        end -= 1
    return end


def read_trailer(package):
    """setup_offset, setup_digest, app_offset, app_digest of a package."""
    end = data_end(package)
    return struct.unpack("<I32sI32s", package[end - TRAILER:end])
