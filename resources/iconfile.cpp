#include "resources/iconfile.h"

#include "platform/files.h"

namespace kelvane {

namespace {

constexpr std::size_t headersize = 6;
constexpr std::size_t entrysize = 16;
// Images fill identifiers 1 to 10 at least; past ten, each extra image also
// brings one extra copy of the last, up to identifier 2n - 10.
constexpr std::size_t filledids = 10;
constexpr std::size_t maxid = 0xFFFF;

std::uint16_t word(const unsigned char* p) { return std::uint16_t(p[0] | p[1] << 8); }

std::uint32_t dword(const unsigned char* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

iconentry decodeentry(const unsigned char* p) {
  iconentry e;
  e.width = p[0];
  e.height = p[1];
  e.colorcount = p[2];
  e.reserved = p[3];
  e.planes = word(p + 4);
  e.bitcount = word(p + 6);
  e.bytesinres = dword(p + 8);
  e.imageoffset = dword(p + 12);
  return e;
}

bool fail(std::string& error, std::string reason) {
  error = std::move(reason);
  return false;
}

std::size_t copiesoflast(std::size_t count) { return count > filledids ? count - filledids : filledids - count; }

}  // namespace

bool readicondirectory(std::FILE* file, std::vector<iconentry>& entries, std::string& error) {
  entries.clear();
  std::int64_t filesize = fs::filesize(file);
  if (filesize < 0) return fail(error, "the icon file's size cannot be read");

  unsigned char header[headersize] = {};
  if (std::fread(header, 1, headersize, file) != headersize) return fail(error, "the icon file holds no images");
  std::size_t count = word(header + 4);
  if (count == 0) return fail(error, "the icon file holds no images");
  if (headersize + count * entrysize > std::uint64_t(filesize))
    return fail(error, "the icon file is too short for its " + std::to_string(count) + " entries");

  entries.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    unsigned char raw[entrysize];
    if (std::fread(raw, 1, entrysize, file) != entrysize) return fail(error, "the icon file's directory cannot be read");
    iconentry e = decodeentry(raw);
    std::string which = "image " + std::to_string(i + 1);
    if (e.bytesinres == 0) return fail(error, which + " is empty");
    if (std::uint64_t(e.imageoffset) + e.bytesinres > std::uint64_t(filesize))
      return fail(error, which + " lies beyond the end of the icon file");
    entries.push_back(e);
  }
  return true;
}

bool planiconresources(const std::vector<iconentry>& entries, std::vector<iconresource>& plan, std::string& error) {
  plan.clear();
  std::size_t count = entries.size();
  if (count == 0) return fail(error, "the icon file holds no images");
  std::size_t copies = copiesoflast(count);
  if (count + copies > maxid) return fail(error, "the icon file has too many images");

  std::uint64_t total = 0;
  for (const iconentry& e : entries) total += e.bytesinres;
  total += std::uint64_t(copies) * entries.back().bytesinres;
  if (total > maxiconresourcebytes) return fail(error, "the icon file's images are too large");

  plan.reserve(count + copies);
  for (std::size_t i = 0; i < count; ++i) plan.push_back({std::uint16_t(i + 1), i});
  for (std::size_t j = 1; j <= copies; ++j) plan.push_back({std::uint16_t(count + j), count - 1});
  return true;
}

bool readiconimages(std::FILE* file, const std::vector<iconentry>& entries,
                    std::vector<std::vector<unsigned char>>& images, std::string& error) {
  images.assign(entries.size(), {});
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const iconentry& e = entries[i];
    images[i].resize(e.bytesinres);
    if (!fs::seek(file, e.imageoffset, SEEK_SET) ||
        std::fread(images[i].data(), 1, e.bytesinres, file) != e.bytesinres) {
      images.clear();
      return fail(error, "image " + std::to_string(i + 1) + " cannot be read");
    }
  }
  return true;
}

bool loadiconfile(std::FILE* file, iconplan& plan, std::string& error) {
  return readicondirectory(file, plan.entries, error) && planiconresources(plan.entries, plan.resources, error) &&
         readiconimages(file, plan.entries, plan.images, error);
}

}  // namespace kelvane
