// Reading a Windows program's resources and writing its resource section
// anew, in portable code: a package gets the same bytes on every host.
//
// Reading takes any PE32 or PE32+ image. Every read is bounded by the bytes
// given; a tree that is not the three levels Windows uses (type, name,
// language), directories that overlap (which is how a loop or a shared
// subtree shows), data entries used twice, data that overlaps other data or
// lies outside the image's sections, names or counts that pass the end, and
// a key stored twice are refused.
//
// Writing replaces the resource section of an image laid out as the stub is:
// the resource directory starts its section, and every section after it holds
// only base relocations (nothing in the program addresses them, so they can
// move). The new section is laid out in one fixed order: the directories
// (root, then every type's name directory, then every name's language
// directory), then the names, then the data entries, then the data, each
// datum 8-byte aligned; entries sorted as PE requires (named entries first,
// case-insensitively, then numbers ascending). Directory time stamps and
// versions are 0. Then the headers that depend on it are set: the section's
// raw and virtual size, the following sections' addresses and file offsets,
// the resource and relocation data directories, SizeOfImage and
// SizeOfInitializedData.
//
// The rewritten image ends with its last section: bytes that followed it in
// the file (the stub's zero padding, a certificate table, a symbol table) are
// not kept, and the security directory, the symbol table pointer and the
// checksum are zeroed. A package is unsigned until its vendor signs it, and a
// checksum over the image alone would be wrong once the archives follow it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kelvane {

inline constexpr std::uint16_t rticon = 3, rtgroupicon = 14, rtversion = 16;

// A resource's type or name: a number, or a text (UTF-16, as stored).
struct resourceid {
  bool named = false;
  std::uint16_t number = 0;
  std::u16string text;

  static resourceid of(std::uint16_t n) { return {false, n, {}}; }
  bool operator==(const resourceid& other) const = default;
};

// PE order: every named entry before every number, names compared without
// regard to ASCII letter case (then exactly, so that the order is total),
// numbers ascending.
bool resourcebefore(const resourceid& a, const resourceid& b);

struct resource {
  resourceid type;
  resourceid name;
  std::uint16_t language = 0;
  std::uint32_t codepage = 0;  // as the data entry records it
  std::vector<unsigned char> data;
};

// Sorts resources by type, name and language in PE order.
void sortresources(std::vector<resource>& resources);

// Every resource of the image, in PE order. An image without a resource
// directory has none. False, with a plain reason, when the bytes are not a PE
// image or its resource tree cannot be read safely.
bool readresources(const unsigned char* image, std::size_t size, std::vector<resource>& out, std::string& error);

// Gives the image `resources` as its resource section (see above). False,
// leaving the image as it was, when its layout is not one this writer
// handles or a key is given twice.
bool writeresources(std::vector<unsigned char>& image, std::vector<resource> resources, std::string& error);

}  // namespace kelvane
