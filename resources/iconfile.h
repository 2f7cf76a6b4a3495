// Reading an icon file (.ico) and deciding which icon image resources an
// executable gets from it. Portable: the Windows layer only writes the plan.
//
// An icon file is untrusted input. Everything here is checked against the
// file's real size before anything is allocated, and what an icon file can
// make us allocate or write is bounded by maxiconresourcebytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
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

// One RT_ICON resource to write: its identifier and the index of the image
// (into the directory's entries) whose bytes it holds.
struct iconresource {
  std::uint16_t id = 0;
  std::size_t image = 0;
};

// The most image data one icon file may put into an executable, copies
// included. Real icons stay far below (nine sizes up to 256 pixels take
// about 400 KB even as bitmaps).
inline constexpr std::uint64_t maxiconresourcebytes = 64ull << 20;

// Reads the 6-byte header and its idCount entries. The header's reserved and
// type words are not looked at, so a cursor file reads like an icon file.
// False, with a plain reason in `error`, when the file holds no images (an
// idCount of 0 or a header too short to read), when the file is too short for
// idCount entries, or when an entry's image is empty or does not lie wholly
// inside the file.
bool readicondirectory(std::FILE* file, std::vector<iconentry>& entries, std::string& error);

// Icon image i (from 1) holds the i-th image; then |10 - n| more identifiers,
// n + 1 onward, hold the last image again. So fewer than ten images still fill
// identifiers 1 to 10, and more than ten add n - 10 copies after the last.
// False when there are no images, when an identifier would pass 65535 (more
// than 32772 images) or when the resources would hold more than
// maxiconresourcebytes.
bool planiconresources(const std::vector<iconentry>& entries, std::vector<iconresource>& plan,
                       std::string& error);

// Reads each entry's image data. False when a read comes up short (the file
// changed since its directory was read).
bool readiconimages(std::FILE* file, const std::vector<iconentry>& entries,
                    std::vector<std::vector<unsigned char>>& images, std::string& error);

// An icon file read and planned: what ReplaceExeIcon writes.
struct iconplan {
  std::vector<iconentry> entries;
  std::vector<std::vector<unsigned char>> images;  // one per entry
  std::vector<iconresource> resources;
};

// The three steps above, in order, so that nothing is allocated for images
// before the whole plan is known to be sound.
bool loadiconfile(std::FILE* file, iconplan& plan, std::string& error);

}  // namespace kelvane
