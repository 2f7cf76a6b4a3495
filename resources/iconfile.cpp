#include "resources/iconfile.h"

#include "platform/files.h"

namespace kelvane {

namespace {

constexpr std::size_t headersize = 6;
constexpr std::size_t entrysize = 16;       // ICONDIRENTRY in the .ico
constexpr std::size_t groupentrysize = 14;  // GRPICONDIRENTRY in the resource
constexpr std::uint32_t maxid = 0xFFFF;  // icon identifiers are words

std::uint16_t word(const unsigned char* p) { return std::uint16_t(p[0] | p[1] << 8); }

std::uint32_t dword(const unsigned char* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

void putword(std::vector<unsigned char>& out, std::uint32_t v) {
  out.push_back(static_cast<unsigned char>(v));
  out.push_back(static_cast<unsigned char>(v >> 8));
}

void putdword(std::vector<unsigned char>& out, std::uint32_t v) {
  putword(out, v & 0xFFFF);
  putword(out, v >> 16);
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

}  // namespace

bool parseiconfile(const unsigned char* bytes, std::size_t size, iconfile& out, std::string& error) {
  out = {};
  if (size < headersize) return fail(error, "the icon file holds no images");
  std::size_t count = word(bytes + 4);
  if (count == 0) return fail(error, "the icon file holds no images");
  if (headersize + count * entrysize > size)
    return fail(error, "the icon file is too short for its " + std::to_string(count) + " entries");

  std::uint64_t total = 0;
  std::vector<iconentry> entries;
  entries.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    iconentry e = decodeentry(bytes + headersize + i * entrysize);
    std::string which = "image " + std::to_string(i + 1);
    if (e.bytesinres == 0) return fail(error, which + " is empty");
    if (std::uint64_t(e.imageoffset) + e.bytesinres > size) return fail(error, which + " lies beyond the end of the icon file");
    total += e.bytesinres;
    entries.push_back(e);
  }
  // Images may share bytes in a crafted file: the total counts each use.
  if (total > maxiconresourcebytes) return fail(error, "the icon file's images are too large");
  out.entries = std::move(entries);
  for (const iconentry& e : out.entries)
    out.images.emplace_back(bytes + e.imageoffset, bytes + e.imageoffset + e.bytesinres);
  return true;
}

bool readiconbytes(std::FILE* file, std::vector<unsigned char>& bytes, std::string& error) {
  bytes.clear();
  std::int64_t size = fs::filesize(file);
  if (size < 0 || !fs::seek(file, 0, SEEK_SET)) return fail(error, "the icon file's size cannot be read");
  if (std::uint64_t(size) > maxiconfilebytes) return fail(error, "the icon file's images are too large");
  bytes.resize(static_cast<std::size_t>(size));
  if (std::fread(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
    bytes.clear();
    return fail(error, "the icon file cannot be read");
  }
  return true;
}

bool loadiconfile(std::FILE* file, iconfile& out, std::string& error) {
  out = {};
  std::vector<unsigned char> bytes;
  return readiconbytes(file, bytes, error) && parseiconfile(bytes.data(), bytes.size(), out, error);
}

bool planicon(const iconfile& icon, const std::set<std::uint16_t>& taken, iconplan& plan, std::string& error) {
  plan = {};
  std::uint32_t id = 1;
  for (std::size_t i = 0; i < icon.entries.size(); ++i, ++id) {
    while (id <= maxid && taken.count(std::uint16_t(id))) ++id;
    if (id > maxid) {
      plan = {};
      return fail(error, "the executable has no free icon identifiers left");
    }
    plan.ids.push_back(std::uint16_t(id));
  }
  // GRPICONDIR: reserved 0, type 1, count; then one GRPICONDIRENTRY per
  // image: the .ico's entry without its file offset, and the image's id.
  putword(plan.group, 0);
  putword(plan.group, 1);
  putword(plan.group, std::uint32_t(icon.entries.size()));
  for (std::size_t i = 0; i < icon.entries.size(); ++i) {
    const iconentry& e = icon.entries[i];
    plan.group.insert(plan.group.end(), {e.width, e.height, e.colorcount, e.reserved});
    putword(plan.group, e.planes);
    putword(plan.group, e.bitcount);
    putdword(plan.group, e.bytesinres);
    putword(plan.group, plan.ids[i]);
  }
  return true;
}

std::vector<std::uint16_t> icongroupids(const std::vector<unsigned char>& group) {
  if (group.size() < headersize) return {};
  std::size_t count = word(group.data() + 4);
  if (headersize + count * groupentrysize > group.size()) return {};
  std::vector<std::uint16_t> ids;
  for (std::size_t i = 0; i < count; ++i) ids.push_back(word(group.data() + headersize + i * groupentrysize + 12));
  return ids;
}

}  // namespace kelvane
