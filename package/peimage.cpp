#include "package/peimage.h"

#include <algorithm>
#include <cstring>

#include "platform/files.h"

namespace kelvane {

namespace {

constexpr std::uint64_t dosheadersize = 0x40;
constexpr std::uint64_t lfanewfield = 0x3c;
constexpr std::uint64_t coffheadersize = 24;  // "PE\0\0" and the file header
constexpr std::uint64_t sectionheadersize = 40;
constexpr std::uint64_t securityentry = 4;
constexpr std::uint32_t certificateheadersize = 8;
constexpr int longestpadding = 7;

// A file or a byte span, read only at offsets that lie inside it.
class source {
 public:
  explicit source(std::uint64_t size) : size_(size) {}
  virtual ~source() = default;
  std::uint64_t size() const { return size_; }

  bool read(std::uint64_t offset, void* buffer, std::size_t n) const {
    return offset <= size_ && n <= size_ - offset && fetch(offset, buffer, n);
  }
  bool u16(std::uint64_t offset, std::uint32_t& v) const {
    unsigned char b[2];
    if (!read(offset, b, 2)) return false;
    v = b[0] | std::uint32_t(b[1]) << 8;
    return true;
  }
  bool u32(std::uint64_t offset, std::uint32_t& v) const {
    unsigned char b[4];
    if (!read(offset, b, 4)) return false;
    v = b[0] | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16 | std::uint32_t(b[3]) << 24;
    return true;
  }

 private:
  virtual bool fetch(std::uint64_t offset, void* buffer, std::size_t n) const = 0;
  std::uint64_t size_;
};

class spansource : public source {
 public:
  spansource(const unsigned char* bytes, std::size_t size) : source(size), bytes_(bytes) {}

 private:
  bool fetch(std::uint64_t offset, void* buffer, std::size_t n) const override {
    if (n) std::memcpy(buffer, bytes_ + offset, n);
    return true;
  }
  const unsigned char* bytes_;
};

class filesource : public source {
 public:
  filesource(std::FILE* file, std::uint64_t size) : source(size), file_(file) {}

 private:
  bool fetch(std::uint64_t offset, void* buffer, std::size_t n) const override {
    return fs::seek(file_, static_cast<std::int64_t>(offset), SEEK_SET) && std::fread(buffer, 1, n, file_) == n;
  }
  std::FILE* file_;
};

bool readheaders(const source& image, peheaders& out) {
  std::uint32_t magic = 0, lfanew = 0, sections = 0, optionalsize = 0;
  if (image.size() < dosheadersize || !image.u16(0, magic) || magic != 0x5a4d || !image.u32(lfanewfield, lfanew))
    return false;
  std::uint32_t signature = 0;
  if (!image.u32(lfanew, signature) || signature != 0x00004550 || !image.u16(lfanew + 6, sections) ||
      !image.u16(lfanew + 20, optionalsize))
    return false;

  // PE32 and PE32+ differ in where their data directories begin.
  std::uint64_t optional = std::uint64_t(lfanew) + coffheadersize;
  std::uint32_t kind = 0, directories = 0;
  if (!image.u16(optional, kind) || (kind != 0x10b && kind != 0x20b)) return false;
  std::uint64_t firstdirectory = kind == 0x10b ? 96 : 112;
  if (optionalsize < firstdirectory + 8 * (securityentry + 1) || !image.u32(optional + firstdirectory - 4, directories) ||
      directories <= securityentry)
    return false;

  std::uint64_t table = optional + optionalsize;
  std::uint64_t tableend = table + std::uint64_t(sections) * sectionheadersize;
  if (tableend > image.size()) return false;
  std::uint64_t end = tableend;
  for (std::uint32_t i = 0; i < sections; ++i) {
    std::uint32_t rawsize = 0, rawoffset = 0;
    std::uint64_t header = table + std::uint64_t(i) * sectionheadersize;
    if (!image.u32(header + 16, rawsize) || !image.u32(header + 20, rawoffset)) return false;
    if (rawsize) end = std::max(end, std::uint64_t(rawoffset) + rawsize);
  }
  out.checksum = optional + 64;
  out.security = optional + firstdirectory + 8 * securityentry;
  out.sectionsend = end;  // both fields lie inside the optional header, which lies inside the image
  return true;
}

std::uint64_t tablestart(const source& image) {
  peheaders headers;
  std::uint32_t address = 0, length = 0;
  if (!readheaders(image, headers) || !image.u32(headers.security, address) || !image.u32(headers.security + 4, length))
    return image.size();
  std::uint32_t firstlength = 0, revision = 0;
  bool found = length >= certificateheadersize && address >= headers.sectionsend &&
               std::uint64_t(address) + length == image.size() && image.u32(address, firstlength) &&
               image.u16(address + 4, revision) && firstlength >= certificateheadersize && firstlength <= length &&
               (revision == 0x0100 || revision == 0x0200);
  return found ? address : image.size();
}

std::uint64_t paddedend(const source& image) {
  std::uint64_t end = tablestart(image);
  unsigned char tail[longestpadding];
  std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(end, longestpadding));
  if (!image.read(end - n, tail, n)) return end;
  while (n > 0 && tail[n - 1] == 0) --n, --end;
  return end;
}

std::int64_t measured(std::FILE* file) { return file ? fs::filesize(file) : -1; }

}  // namespace

bool readpeheaders(const unsigned char* bytes, std::size_t size, peheaders& out) {
  return readheaders(spansource(bytes, size), out);
}

std::uint64_t certificatestart(const unsigned char* bytes, std::size_t size) {
  return tablestart(spansource(bytes, size));
}

std::uint64_t dataend(const unsigned char* bytes, std::size_t size) { return paddedend(spansource(bytes, size)); }

std::int64_t certificatestart(std::FILE* file) {
  std::int64_t size = measured(file);
  return size < 0 ? -1 : static_cast<std::int64_t>(tablestart(filesource(file, static_cast<std::uint64_t>(size))));
}

std::int64_t dataend(std::FILE* file) {
  std::int64_t size = measured(file);
  return size < 0 ? -1 : static_cast<std::int64_t>(paddedend(filesource(file, static_cast<std::uint64_t>(size))));
}

bool clearsignature(unsigned char* image, std::size_t size) {
  peheaders headers;
  if (!readpeheaders(image, size, headers)) return false;
  std::memset(image + headers.checksum, 0, 4);
  std::memset(image + headers.security, 0, 8);
  return true;
}

}  // namespace kelvane
