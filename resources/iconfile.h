// Reading an icon file (.ico) and planning the resources that give an
// executable its images. Portable: the package writer and the Windows
// resource update both write this plan.
//
// The plan is the one Windows reads: an icon group directory (RT_GROUP_ICON,
// a GRPICONDIR) whose entries describe exactly the .ico's images, as the .ico
// declares them (sizes, colour count, planes, bit count, byte count, in the
// .ico's order, PNG-compressed images included), each naming the RT_ICON
// resource that holds that image byte for byte. Windows picks the image for
// each size from that directory, so every size shows the .ico's own image.
//
// An icon file is untrusted input. Everything here is checked against the
// file's real size before anything is allocated, and what an icon file can
// make us allocate or write is bounded by maxiconresourcebytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

namespace kelvane {

// One ICONDIRENTRY of the icon file's directory, as stored (little-endian).
struct iconentry {
  std::uint8_t width = 0;   // 0 stands for 256
  std::uint8_t height = 0;
  std::uint8_t colorcount = 0;
  std::uint8_t reserved = 0;
  std::uint16_t planes = 0;
  std::uint16_t bitcount = 0;
  std::uint32_t bytesinres = 0;   // size of the image data
  std::uint32_t imageoffset = 0;  // from the start of the file
};

// The most image data one icon file may put into an executable. Real icons
// stay far below (nine sizes up to 256 pixels take about 400 KB even as
// bitmaps).
inline constexpr std::uint64_t maxiconresourcebytes = 64ull << 20;
// No icon file we accept is larger: a directory of 65535 entries and the
// images' bound. Larger files are refused before they are read.
inline constexpr std::uint64_t maxiconfilebytes = 6 + 65535 * 16 + maxiconresourcebytes;

// An icon file read whole: its directory and each entry's image bytes.
struct iconfile {
  std::vector<iconentry> entries;
  std::vector<std::vector<unsigned char>> images;  // one per entry
};

// Reads an icon file from memory. The header's reserved and type words are
// not looked at, so a cursor file reads like an icon file. False, with a
// plain reason in `error`, when the file holds no images (an idCount of 0 or
// a header too short to read), when it is too short for idCount entries, when
// an entry's image is empty or does not lie wholly inside the file, or when
// the images together pass maxiconresourcebytes.
bool parseiconfile(const unsigned char* bytes, std::size_t size, iconfile& out, std::string& error);

// Reads an open file whole, from its start, for parseiconfile: false, with
// the reason, when it cannot be read or is larger than maxiconfilebytes.
bool readiconbytes(std::FILE* file, std::vector<unsigned char>& bytes, std::string& error);

// readiconbytes, then parseiconfile.
bool loadiconfile(std::FILE* file, iconfile& out, std::string& error);

// What an executable gets: image i as RT_ICON ids[i], and the group
// directory that lists exactly those images.
struct iconplan {
  std::vector<std::uint16_t> ids;
  std::vector<unsigned char> group;  // the RT_GROUP_ICON resource's bytes
};

// Plans the icon's images under the lowest identifiers from 1 up that are not
// in `taken` (images the executable keeps for other purposes). False when
// there are not enough free identifiers.
bool planicon(const iconfile& icon, const std::set<std::uint16_t>& taken, iconplan& plan, std::string& error);

// The RT_ICON identifiers an icon group directory refers to; empty when the
// bytes are not a whole group directory.
std::vector<std::uint16_t> icongroupids(const std::vector<unsigned char>& group);

}  // namespace kelvane
