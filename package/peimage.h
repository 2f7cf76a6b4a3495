// Where a program file's own bytes end. Signing a Windows program appends a
// certificate table to the file and points the security data directory (entry
// 4 of the optional header's data directories; its "address" is a file
// offset) at it, after padding the file with zero bytes to a multiple of 8.
// Removing the signature again drops the table but keeps the padding.
//
// A table counts only when the directory names one that lies inside the file,
// starts at or after the end of the last section, ends exactly at the end of
// the file, and whose first entry's header agrees (its length at least 8 and
// within the table, revision 0x0100 or 0x0200). Anything else, including
// headers that are truncated or point outside the file, means "no table".
// Every header read is bounded by the file's size.
//
// The package's data (stub, archives, trailer) ends before the table and
// before up to 7 zero bytes of padding; the trailer's last byte is a hex
// digit, never zero, so skipping them is unambiguous.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace kelvane {

// File offsets of the header fields that signing sets.
struct peheaders {
  std::uint64_t checksum = 0;     // the optional header's CheckSum, 4 bytes
  std::uint64_t security = 0;     // the security directory entry: address and size, 4 bytes each
  std::uint64_t sectionsend = 0;  // first byte past the section table and every section's raw data
};

// False when the bytes are not a PE image whose headers, up to the security
// directory entry and the section table, lie inside them.
bool readpeheaders(const unsigned char* bytes, std::size_t size, peheaders& out);

// Where the certificate table begins; `size` when there is none.
std::uint64_t certificatestart(const unsigned char* bytes, std::size_t size);

// Where the package's data ends: before the certificate table and the zero
// bytes (at most 7) that pad up to it.
std::uint64_t dataend(const unsigned char* bytes, std::size_t size);

// The same for an open file, which is read through its own position: -1 when
// the file's size cannot be measured. The position is left undefined.
std::int64_t certificatestart(std::FILE* file);
std::int64_t dataend(std::FILE* file);

// Makes a copy of an image carry no signature: zeroes the security directory
// entry and the header checksum (which signing tools fill in again). Returns
// false, changing nothing, when the bytes are not a PE image.
bool clearsignature(unsigned char* image, std::size_t size);

}  // namespace kelvane
