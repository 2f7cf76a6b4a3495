// Helpers for the archive, walk, builder and reader tests: trees of files,
// hand-made zip archives and packages, and scoped changes of the current and
// temporary folders.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "package/datamd5.h"
#include "package/layout.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "resources/packageresources.h"
#include "tests/resources/pefixture.h"
#include "tests/support/scratch.h"

namespace kelvane::testing {

// Files of a tree by their backslash-separated relative names; a name ending
// in a backslash is an (empty) folder.
using tree = std::map<std::string, std::string>;

inline std::string readfile(const std::string& path) {
  std::string data;
  if (std::FILE* f = fs::openfile(path, "rb")) {
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) data.append(buffer, n);
    std::fclose(f);
  }
  return data;
}

inline bool writefile(const std::string& path, const std::string& data) {
  std::FILE* f = fs::openfile(path, "wb");
  if (!f) return false;
  bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
  return std::fclose(f) == 0 && ok;
}

inline void maketree(const std::string& root, const tree& files) {
  for (const auto& [name, data] : files) {
    std::string path = root;
    std::size_t start = 0, end;
    while ((end = name.find('\\', start)) != std::string::npos) {
      path += fs::separator() + name.substr(start, end - start);
      fs::makefolder(path);
      start = end + 1;
    }
    if (start < name.size()) writefile(path + fs::separator() + name.substr(start), data);
  }
}

// Bytes that deflate poorly, so sizes stay large after compression.
inline std::string noise(std::size_t n, std::uint32_t seed = 1) {
  std::string data(n, '\0');
  for (char& c : data) {
    seed = seed * 1103515245 + 12345;
    c = static_cast<char>(seed >> 16);
  }
  return data;
}

// A stub the builder can rewrite: a small PE image with an icon and a
// version resource, zero padding after its last section.
inline std::string fixturestub() {
  fixture f = makeimage(encodetree({{"#3", "#1", 1033, "stub icon"},
                                    {"#14", "#1", 1033, std::string("\0\0\1\0\1\0", 6) + std::string(12, 'g') + "\1\0"},
                                    {"#16", "#1", 1033, "stub version"}},
                                   0x2000));
  return std::string(f.image.begin(), f.image.end());
}

// What a package starts with when built from `stub` without an icon file or
// a setup program: the stub's image rewritten, its padding dropped.
inline std::string packagedimage(const std::string& stub) {
  std::vector<unsigned char> image(stub.begin(), stub.end());
  std::string error;
  if (!setpackageresources(image, nullptr, nullptr, error)) return "cannot rewrite the stub: " + error;
  return std::string(image.begin(), image.end());
}

// Runs a scope with another current folder.
class insidefolder {
 public:
  explicit insidefolder(const std::string& path) : saved_(fs::currentfolder()) { fs::changefolder(path); }
  ~insidefolder() { fs::changefolder(saved_); }

 private:
  std::string saved_;
};

// Runs a scope with another temporary folder (the loader's workspace).
class tempfolder {
 public:
  explicit tempfolder(const std::string& path) {
    for (const char* name : names) {
      saved_[name] = env::get(name);
      env::set(name, path);
    }
  }
  ~tempfolder() {
    for (auto& [name, value] : saved_)
      if (value)
        env::set(name, *value);
      else
        env::unset(name);
  }

 private:
  static constexpr const char* names[] = {"TMPDIR", "TMP", "TEMP"};
  std::map<std::string, std::optional<std::string>> saved_;
};

inline void put16(std::string& s, std::uint32_t v) {
  s += static_cast<char>(v & 0xff);
  s += static_cast<char>((v >> 8) & 0xff);
}
inline void put32(std::string& s, std::uint32_t v) {
  put16(s, v & 0xffff);
  put16(s, v >> 16);
}

// A zip archive written by hand, for what the archive writer never produces.
struct handentry {
  std::string name;                         // in the central directory
  std::string data;                         // stored (method 0) as it is, unless deflated
  std::optional<std::string> localname{};   // another name in the local header
  std::optional<std::uint32_t> crc{};       // a wrong CRC-32 in both headers
  std::optional<std::uint32_t> size{};      // another uncompressed size in both headers
  bool deflated = false;                    // method 8, raw deflate at level 9
};

inline std::string rawdeflate(const std::string& data) {
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, data.size()), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

inline std::string handzip(const std::vector<handentry>& entries) {
  std::string out, central;
  for (const auto& e : entries) {
    std::uint32_t crc = e.crc.value_or(crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), e.data.size()));
    std::uint32_t size = e.size.value_or(static_cast<std::uint32_t>(e.data.size()));
    std::string local = e.localname.value_or(e.name);
    std::string packed = e.deflated ? rawdeflate(e.data) : e.data;
    std::uint32_t method = e.deflated ? 8 : 0, packedsize = static_cast<std::uint32_t>(packed.size());
    std::uint32_t offset = static_cast<std::uint32_t>(out.size());
    put32(out, 0x04034b50);
    put16(out, 20), put16(out, 0), put16(out, method), put32(out, 0x00200000);
    put32(out, crc), put32(out, packedsize), put32(out, size);
    put16(out, static_cast<std::uint32_t>(local.size())), put16(out, 0);
    out += local + packed;

    put32(central, 0x02014b50);
    put16(central, 0), put16(central, 20), put16(central, 0), put16(central, method), put32(central, 0x00200000);
    put32(central, crc), put32(central, packedsize), put32(central, size);
    put16(central, static_cast<std::uint32_t>(e.name.size())), put16(central, 0), put16(central, 0);
    put16(central, 0), put16(central, 0), put32(central, 0), put32(central, offset);
    central += e.name;
  }
  std::uint32_t directory = static_cast<std::uint32_t>(out.size());
  out += central;
  put32(out, 0x06054b50);
  put16(out, 0), put16(out, 0);
  put16(out, static_cast<std::uint32_t>(entries.size())), put16(out, static_cast<std::uint32_t>(entries.size()));
  put32(out, static_cast<std::uint32_t>(central.size())), put32(out, directory), put16(out, 0);
  return out;
}

inline std::string sampleddigest(const std::string& data) {
  char out[33];
  datamd5().buffermd5(data.data(), static_cast<std::int64_t>(data.size()), out);
  return out;
}

// stub + setup archive + app archive + the trailer that describes them.
inline std::string makepackage(const std::string& stub, const std::string& setup, const std::string& app) {
  packagetrailer t;
  t.setup_offset = static_cast<std::uint32_t>(stub.size());
  t.app_offset = static_cast<std::uint32_t>(stub.size() + setup.size());
  std::string sd = sampleddigest(setup), ad = sampleddigest(app);
  std::copy(sd.begin(), sd.begin() + digestlength, t.setup_digest.begin());
  std::copy(ad.begin(), ad.begin() + digestlength, t.app_digest.begin());
  auto bytes = t.encode();
  return stub + setup + app + std::string(bytes.begin(), bytes.end());
}

}  // namespace kelvane::testing
