// Small PE images made byte by byte for the resource reader and writer's
// tests: a code section, a resource section whose tree is laid out unlike our
// writer's (data first, directories depth first, entries in the order given)
// and a relocation section, then zero padding as the stub has.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace kelvane::testing {

using bytes = std::vector<unsigned char>;

inline void put(bytes& b, std::size_t at, std::uint64_t v, int n) {
  if (b.size() < at + n) b.resize(at + n, 0);
  for (int i = 0; i < n; ++i) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

inline std::uint32_t get(const bytes& b, std::size_t at, int n) {
  std::uint32_t v = 0;
  for (int i = 0; i < n; ++i) v |= std::uint32_t(b[at + i]) << (8 * i);
  return v;
}

// One leaf of a fixture's tree: a name that starts with '#' is a number.
struct leaf {
  std::string type, name;
  std::uint16_t language;
  std::string data;
};

// Encodes a resource tree for a section at `va`: the directories depth
// first, then the names, the data entries in reverse order and the data.
// Entries keep the order given within each directory (the caller sorts them
// when it wants them sorted).
inline bytes encodetree(const std::vector<leaf>& leaves, std::uint32_t va) {
  bytes out;
  std::vector<std::pair<std::size_t, std::string>> names;  // entry offset, text
  auto idfield = [&](std::size_t entry, const std::string& id) {
    if (id[0] == '#')
      put(out, entry, std::stoul(id.substr(1)), 4);
    else
      names.push_back({entry, id});
  };
  // Distinct values of a key among `which`, in first-seen order.
  auto distinct = [](const std::vector<std::size_t>& which, auto key) {
    std::vector<std::string> seen;
    for (std::size_t i : which)
      if (std::find(seen.begin(), seen.end(), key(i)) == seen.end()) seen.push_back(key(i));
    return seen;
  };
  std::vector<std::size_t> all;
  for (std::size_t i = 0; i < leaves.size(); ++i) all.push_back(i);
  std::vector<std::uint32_t> entryfor(leaves.size());  // data entry offsets, filled last
  std::vector<std::size_t> dataentryslots;
  auto directory = [&](auto&& self, const std::vector<std::size_t>& which, int level) -> std::uint32_t {
    std::uint32_t at = std::uint32_t(out.size());
    std::vector<std::string> keys;
    if (level == 0) keys = distinct(which, [&](std::size_t i) { return leaves[i].type; });
    if (level == 1) keys = distinct(which, [&](std::size_t i) { return leaves[i].name; });
    if (level == 2) keys = distinct(which, [&](std::size_t i) { return "#" + std::to_string(leaves[i].language); });
    std::size_t named = 0;
    for (const std::string& k : keys) named += k[0] != '#';
    put(out, at + 12, named, 2);
    put(out, at + 14, keys.size() - named, 2);
    out.resize(at + 16 + 8 * keys.size(), 0);
    for (std::size_t k = 0; k < keys.size(); ++k) {
      std::size_t entry = at + 16 + 8 * k;
      idfield(entry, keys[k]);
      std::vector<std::size_t> below;
      for (std::size_t i : which) {
        const leaf& l = leaves[i];
        std::string mine = level == 0 ? l.type : level == 1 ? l.name : "#" + std::to_string(l.language);
        if (mine == keys[k]) below.push_back(i);
      }
      if (level < 2) {
        put(out, entry + 4, 0x80000000u | self(self, below, level + 1), 4);
      } else {
        dataentryslots.push_back(entry + 4);
        entryfor[below[0]] = std::uint32_t(dataentryslots.size() - 1);
      }
    }
    return at;
  };
  directory(directory, all, 0);
  for (auto& [entry, text] : names) {
    std::size_t at = out.size();
    put(out, at, text.size(), 2);
    for (std::size_t c = 0; c < text.size(); ++c) put(out, at + 2 + 2 * c, text[c], 2);
    put(out, entry, 0x80000000u | at, 4);
  }
  out.resize((out.size() + 3) / 4 * 4);
  std::vector<std::size_t> slotleaf(dataentryslots.size());
  for (std::size_t i = 0; i < leaves.size(); ++i) slotleaf[entryfor[i]] = i;
  std::vector<std::size_t> entryat(leaves.size());
  for (std::size_t s = dataentryslots.size(); s-- > 0;) {
    entryat[slotleaf[s]] = out.size();
    put(out, dataentryslots[s], out.size(), 4);
    out.resize(out.size() + 16, 0);
  }
  for (std::size_t i = 0; i < leaves.size(); ++i) {
    out.resize((out.size() + 3) / 4 * 4);
    put(out, entryat[i], va + out.size(), 4);
    put(out, entryat[i] + 4, leaves[i].data.size(), 4);
    out.insert(out.end(), leaves[i].data.begin(), leaves[i].data.end());
  }
  return out;
}

struct fixturelayout {
  bool plus = true;                 // PE32+ (x86-64) or PE32 (i386)
  std::size_t padding = 0x3000;     // zeros after the last section, as the stub's
  bool dataafterresources = false;  // a data section in place of the relocations
};

// Offsets of a fixture's headers.
struct fixture {
  static constexpr std::size_t lfanew = 0x80, coff = 0x84, optional = 0x98;
  std::size_t sections, directories;
  bytes image;
  std::size_t section(int i) const { return sections + 40 * i; }
  std::size_t directory(int i) const { return directories + 8 * i; }
};

constexpr std::uint32_t fixturealign = 0x200, fixturesectionalign = 0x1000;

// .text at 0x1000, .rsrc at 0x2000 holding `tree`, .reloc after it.
inline fixture makeimage(const bytes& tree, const fixturelayout& layout = {}) {
  fixture f;
  bytes& b = f.image;
  std::size_t optsize = layout.plus ? 240 : 224;
  f.sections = fixture::optional + optsize;
  f.directories = fixture::optional + (layout.plus ? 112 : 96);
  put(b, 0, 0x5a4d, 2);
  put(b, 0x3c, fixture::lfanew, 4);
  put(b, fixture::lfanew, 0x00004550, 4);
  put(b, fixture::coff, layout.plus ? 0x8664 : 0x14c, 2);
  put(b, fixture::coff + 2, 3, 2);
  put(b, fixture::coff + 16, optsize, 2);
  put(b, fixture::coff + 18, 0x22, 2);
  put(b, fixture::optional, layout.plus ? 0x20b : 0x10b, 2);
  put(b, fixture::optional + 32, fixturesectionalign, 4);
  put(b, fixture::optional + 36, fixturealign, 4);
  put(b, fixture::optional + 60, 0x400, 4);                        // SizeOfHeaders
  put(b, fixture::optional + 64, 0x1234, 4);                       // a checksum to be cleared
  put(b, f.directories - 4, 16, 4);                                // NumberOfRvaAndSizes
  auto align = [](std::size_t v, std::size_t a) { return (v + a - 1) / a * a; };
  bytes text(0x300, 0xCC), reloc;
  put(reloc, 0, 0x1000, 4);  // one block for the code page: two entries
  put(reloc, 4, 12, 4);
  put(reloc, 8, 0xA010, 2);
  put(reloc, 10, 0xA020, 2);
  std::uint32_t rsrcva = 0x2000, relocva = rsrcva + std::uint32_t(align(tree.size(), fixturesectionalign));
  struct sec {
    const char* name;
    std::uint32_t va;
    const bytes* data;
    std::uint32_t characteristics;
  } secs[] = {{".text", 0x1000, &text, 0x60000020},
              {".rsrc", rsrcva, &tree, 0xC0000040},
              {layout.dataafterresources ? ".data" : ".reloc", relocva, &reloc,
               layout.dataafterresources ? 0xC0000040u : 0x42000040u}};
  std::size_t raw = 0x400;
  std::uint32_t initialized = 0;
  for (int i = 0; i < 3; ++i) {
    std::size_t h = f.section(i);
    for (int c = 0; secs[i].name[c]; ++c) b.resize(std::max(b.size(), h + 8)), b[h + c] = secs[i].name[c];
    put(b, h + 8, secs[i].data->size(), 4);
    put(b, h + 12, secs[i].va, 4);
    std::size_t rawsize = align(secs[i].data->size(), fixturealign);
    put(b, h + 16, rawsize, 4);
    put(b, h + 20, raw, 4);
    put(b, h + 36, secs[i].characteristics, 4);
    if (secs[i].characteristics & 0x40) initialized += std::uint32_t(rawsize);
    b.resize(raw, 0);
    b.insert(b.end(), secs[i].data->begin(), secs[i].data->end());
    b.resize(raw + rawsize, 0);
    raw += rawsize;
  }
  put(b, fixture::optional + 8, initialized, 4);
  put(b, fixture::optional + 56, relocva + fixturesectionalign, 4);  // SizeOfImage
  put(b, f.directory(2), rsrcva, 4);
  put(b, f.directory(2) + 4, tree.size(), 4);
  if (!layout.dataafterresources) {
    put(b, f.directory(5), relocva, 4);
    put(b, f.directory(5) + 4, reloc.size(), 4);
  }
  b.resize(b.size() + layout.padding, 0);
  return f;
}

}  // namespace kelvane::testing
