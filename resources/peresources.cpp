#include "resources/peresources.h"

#include <algorithm>
#include <map>
#include <set>

namespace kelvane {

namespace {

constexpr std::uint64_t lfanewfield = 0x3c;
constexpr std::uint64_t sectionheadersize = 40;
constexpr std::uint32_t resourcedirectory = 2, securitydirectory = 4, relocationdirectory = 5;
constexpr std::uint32_t initializeddata = 0x40;  // IMAGE_SCN_CNT_INITIALIZED_DATA
constexpr std::uint32_t highbit = 0x80000000u;
constexpr std::uint64_t directorysize = 16, entrysize = 8, dataentrysize = 16;
constexpr std::uint64_t dataalignment = 8;
constexpr std::uint64_t rvalimit = 0x80000000u;  // images stay well below 2 GiB

bool fail(std::string& error, std::string reason) {
  error = std::move(reason);
  return false;
}

std::uint64_t alignup(std::uint64_t v, std::uint64_t a) { return (v + a - 1) / a * a; }

// Bounded little-endian reads and writes over a byte span.
struct span {
  const unsigned char* bytes;
  std::uint64_t size;

  bool has(std::uint64_t offset, std::uint64_t n) const { return offset <= size && n <= size - offset; }
  std::uint32_t u16(std::uint64_t at) const { return bytes[at] | std::uint32_t(bytes[at + 1]) << 8; }
  std::uint32_t u32(std::uint64_t at) const { return u16(at) | u16(at + 2) << 16; }
};

void put32(std::vector<unsigned char>& out, std::uint64_t at, std::uint64_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

void put16(std::vector<unsigned char>& out, std::uint64_t at, std::uint32_t v) {
  out[at] = static_cast<unsigned char>(v);
  out[at + 1] = static_cast<unsigned char>(v >> 8);
}

struct section {
  std::uint64_t header;  // file offset of its section header
  std::uint32_t va, vsize, rawsize, rawptr, characteristics;

  // The part of the section that is both in the file and in memory.
  std::uint32_t readable() const { return vsize ? std::min(vsize, rawsize) : rawsize; }
  std::uint64_t rawend() const { return rawsize ? std::uint64_t(rawptr) + rawsize : 0; }
};

struct directory {
  std::uint64_t at;  // file offset of the entry: address, then size
  std::uint32_t va, size;
};

struct peheader {
  std::uint64_t coff, optional;
  std::uint32_t filealignment, sectionalignment, sizeofheaders;
  std::vector<directory> directories;
  std::vector<section> sections;

  // The file offset of `n` bytes at `rva`, when they lie in a section's readable part.
  bool locate(std::uint64_t rva, std::uint64_t n, std::uint64_t& offset) const {
    for (const section& s : sections)
      if (rva >= s.va && rva - s.va <= s.readable() && n <= s.readable() - (rva - s.va)) {
        offset = s.rawptr + (rva - s.va);
        return true;
      }
    return false;
  }
};

bool readpe(span image, peheader& pe, std::string& error) {
  if (!image.has(0, 0x40) || image.u16(0) != 0x5a4d) return fail(error, "not a program: no MZ header");
  std::uint64_t lfanew = image.u32(lfanewfield);
  if (!image.has(lfanew, 24) || image.u32(lfanew) != 0x00004550) return fail(error, "not a program: no PE header");
  pe.coff = lfanew + 4;
  std::uint32_t count = image.u16(pe.coff + 2), optionalsize = image.u16(pe.coff + 16);
  pe.optional = lfanew + 24;
  if (!image.has(pe.optional, optionalsize) || optionalsize < 2) return fail(error, "the optional header is cut short");
  std::uint32_t magic = image.u16(pe.optional);
  if (magic != 0x10b && magic != 0x20b) return fail(error, "not a PE32 or PE32+ image");
  std::uint64_t first = magic == 0x10b ? 96 : 112;  // where the data directories begin
  if (optionalsize < first) return fail(error, "the optional header is cut short");
  pe.sectionalignment = image.u32(pe.optional + 32);
  pe.filealignment = image.u32(pe.optional + 36);
  pe.sizeofheaders = image.u32(pe.optional + 60);
  std::uint64_t directories = std::min<std::uint64_t>(image.u32(pe.optional + first - 4), (optionalsize - first) / 8);
  for (std::uint64_t i = 0; i < std::min<std::uint64_t>(directories, 16); ++i) {
    std::uint64_t at = pe.optional + first + 8 * i;
    pe.directories.push_back({at, image.u32(at), image.u32(at + 4)});
  }
  std::uint64_t table = pe.optional + optionalsize;
  if (!image.has(table, count * sectionheadersize)) return fail(error, "the section table is cut short");
  for (std::uint64_t i = 0; i < count; ++i) {
    std::uint64_t h = table + i * sectionheadersize;
    section s{h, image.u32(h + 12), image.u32(h + 8), image.u32(h + 16), image.u32(h + 20), image.u32(h + 36)};
    if (s.rawsize && !image.has(s.rawptr, s.rawsize)) return fail(error, "a section lies beyond the end of the file");
    pe.sections.push_back(s);
  }
  return true;
}

// Spans of the resource section already taken, to refuse overlaps in
// O(log n) each: a directory reached twice (a loop, a shared subtree) or data
// that overlaps other data.
class spans {
 public:
  bool take(std::uint64_t start, std::uint64_t end) {
    auto next = taken_.lower_bound(start);
    if (next != taken_.end() && next->first < end) return false;
    if (next != taken_.begin() && std::prev(next)->second > start) return false;
    if (start < end) taken_.emplace(start, end);
    return true;
  }

 private:
  std::map<std::uint64_t, std::uint64_t> taken_;
};

// Walks the three levels of the tree below the resource directory's root.
class treereader {
 public:
  treereader(span image, const peheader& pe, std::uint64_t base, std::uint64_t limit)
      : image_(image), pe_(pe), base_(base), limit_(limit) {}

  bool read(std::vector<resource>& out, std::string& error) { return table(0, 0, {}, out, error); }

 private:
  // `path` holds the type and name of the entries above.
  bool table(std::uint64_t at, int level, std::vector<resourceid> path, std::vector<resource>& out,
             std::string& error) {
    if (at > limit_ || directorysize > limit_ - at) return fail(error, "a resource directory lies outside the section");
    std::uint64_t count = image_.u16(base_ + at + 12) + std::uint64_t(image_.u16(base_ + at + 14));
    std::uint64_t end = at + directorysize + count * entrysize;
    if (end > limit_) return fail(error, "a resource directory's entries pass the end of the section");
    if (!directories_.take(at, end)) return fail(error, "resource directories overlap or loop");
    for (std::uint64_t i = 0; i < count; ++i) {
      std::uint64_t entry = base_ + at + directorysize + i * entrysize;
      std::uint32_t name = image_.u32(entry), offset = image_.u32(entry + 4);
      resourceid id;
      if (!entryname(name, id, error)) return false;
      bool subdirectory = offset & highbit;
      if (level < 2) {
        if (!subdirectory) return fail(error, "a resource type or name has data instead of a directory");
        path.push_back(id);
        if (!table(offset & ~highbit, level + 1, path, out, error)) return false;
        path.pop_back();
      } else {
        if (subdirectory) return fail(error, "a resource language has a directory instead of data");
        if (id.named) return fail(error, "a resource language is a text");
        resource r{path[0], path[1], id.number, 0, {}};
        if (!data(offset, r, error)) return false;
        out.push_back(std::move(r));
      }
    }
    return true;
  }

  bool entryname(std::uint32_t name, resourceid& id, std::string& error) {
    if (!(name & highbit)) {
      if (name > 0xFFFF) return fail(error, "a resource number is out of range");
      id = resourceid::of(std::uint16_t(name));
      return true;
    }
    std::uint64_t at = name & ~highbit;
    if (at > limit_ || 2 > limit_ - at) return fail(error, "a resource name lies outside the section");
    std::uint64_t length = image_.u16(base_ + at);
    if (2 * length > limit_ - at - 2) return fail(error, "a resource name passes the end of the section");
    id.named = true;
    for (std::uint64_t i = 0; i < length; ++i) id.text.push_back(char16_t(image_.u16(base_ + at + 2 + 2 * i)));
    return true;
  }

  bool data(std::uint64_t at, resource& r, std::string& error) {
    if (at > limit_ || dataentrysize > limit_ - at) return fail(error, "a resource data entry lies outside the section");
    if (!dataentries_.insert(at).second) return fail(error, "a resource data entry is used twice");
    std::uint32_t rva = image_.u32(base_ + at), size = image_.u32(base_ + at + 4);
    r.codepage = image_.u32(base_ + at + 8);
    std::uint64_t offset = 0;
    if (!pe_.locate(rva, size, offset)) return fail(error, "resource data lies outside the image's sections");
    if (!data_.take(offset, offset + size)) return fail(error, "resource data overlaps other resource data");
    r.data.assign(image_.bytes + offset, image_.bytes + offset + size);
    return true;
  }

  span image_;
  const peheader& pe_;
  std::uint64_t base_, limit_;  // the root's file offset, and how far past it the tree may reach
  spans directories_, data_;
  std::set<std::uint64_t> dataentries_;
};

// The section that holds the resource root, and where the root lies in it.
const section* rootsection(const peheader& pe, std::uint32_t rva) {
  for (const section& s : pe.sections)
    if (rva >= s.va && rva - s.va < s.readable()) return &s;
  return nullptr;
}

char16_t folded(char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - 32) : c; }

bool samekey(const resource& a, const resource& b) {
  return a.type == b.type && a.name == b.name && a.language == b.language;
}

// The new resource section for `sorted` resources, placed at `va`.
class sectionwriter {
 public:
  sectionwriter(const std::vector<resource>& sorted, std::uint64_t va) : resources_(sorted), va_(va) {}

  std::vector<unsigned char> write() {
    // Group the sorted list into types, each into names, each into languages.
    struct namegroup { std::size_t first, count; };
    struct typegroup { std::vector<namegroup> names; };
    std::vector<typegroup> types;
    for (std::size_t i = 0; i < resources_.size(); ++i) {
      if (i == 0 || !(resources_[i].type == resources_[i - 1].type)) types.push_back({});
      if (types.back().names.empty() || !(resources_[i].name == resources_[i - 1].name) ||
          !(resources_[i].type == resources_[i - 1].type))
        types.back().names.push_back({i, 0});
      ++types.back().names.back().count;
    }

    // Sizes of the four regions, in their order.
    std::uint64_t directories = directorysize + types.size() * entrysize;
    for (const typegroup& t : types) {
      directories += directorysize + t.names.size() * entrysize;
      for (const namegroup& n : t.names) directories += directorysize + n.count * entrysize;
    }
    std::uint64_t names = 0;
    for (const typegroup& t : types) {
      names += textsize(resources_[t.names.front().first].type);
      for (const namegroup& n : t.names) names += textsize(resources_[n.first].name);
    }
    std::uint64_t entries = alignup(directories + names, 4);
    std::uint64_t data = entries + resources_.size() * dataentrysize;
    std::uint64_t end = data;
    for (const resource& r : resources_) end = alignup(end, dataalignment) + r.data.size();
    out_.assign(end, 0);

    // Directories breadth first: the root, then the name directories, then
    // the language directories; names, data entries and data in the same order.
    std::uint64_t nextdirectory = directorysize + types.size() * entrysize;
    nexttext_ = directories;
    std::uint64_t nextentry = entries, nextdata = data;
    header(0, types.size(), [&](std::size_t i) { return resources_[types[i].names.front().first].type; });
    std::vector<std::uint64_t> namedirectories;
    for (std::size_t t = 0; t < types.size(); ++t) {
      link(0, t, nextdirectory);
      namedirectories.push_back(nextdirectory);
      nextdirectory += directorysize + types[t].names.size() * entrysize;
    }
    for (std::size_t t = 0; t < types.size(); ++t) {
      const std::vector<namegroup>& group = types[t].names;
      header(namedirectories[t], group.size(), [&](std::size_t i) { return resources_[group[i].first].name; });
      for (std::size_t n = 0; n < group.size(); ++n) {
        link(namedirectories[t], n, nextdirectory);
        std::uint64_t languages = nextdirectory;
        nextdirectory += directorysize + group[n].count * entrysize;
        header(languages, group[n].count, [&](std::size_t i) {
          return resourceid::of(resources_[group[n].first + i].language);
        });
        for (std::size_t l = 0; l < group[n].count; ++l) {
          const resource& r = resources_[group[n].first + l];
          put32(out_, languages + directorysize + l * entrysize + 4, nextentry);
          nextdata = alignup(nextdata, dataalignment);
          put32(out_, nextentry, va_ + nextdata);
          put32(out_, nextentry + 4, r.data.size());
          put32(out_, nextentry + 8, r.codepage);
          std::copy(r.data.begin(), r.data.end(), out_.begin() + nextdata);
          nextentry += dataentrysize;
          nextdata += r.data.size();
        }
      }
    }
    return std::move(out_);
  }

 private:
  static std::uint64_t textsize(const resourceid& id) { return id.named ? 2 + 2 * id.text.size() : 0; }

  // A directory header with `count` entries named by `idof(i)`; named ones
  // come first in a sorted list, so the counts split where they change.
  template <typename idfn>
  void header(std::uint64_t at, std::size_t count, idfn idof) {
    std::size_t named = 0;
    for (std::size_t i = 0; i < count; ++i) {
      resourceid id = idof(i);
      std::uint64_t entry = at + directorysize + i * entrysize;
      if (id.named) {
        ++named;
        put32(out_, entry, highbit | nexttext_);
        put16(out_, nexttext_, std::uint32_t(id.text.size()));
        for (std::size_t c = 0; c < id.text.size(); ++c) put16(out_, nexttext_ + 2 + 2 * c, id.text[c]);
        nexttext_ += textsize(id);
      } else {
        put32(out_, entry, id.number);
      }
    }
    put16(out_, at + 12, std::uint32_t(named));
    put16(out_, at + 14, std::uint32_t(count - named));
  }

  void link(std::uint64_t at, std::size_t i, std::uint64_t subdirectory) {
    put32(out_, at + directorysize + i * entrysize + 4, highbit | subdirectory);
  }

  const std::vector<resource>& resources_;
  std::uint64_t va_;
  std::uint64_t nexttext_ = 0;
  std::vector<unsigned char> out_;
};

// Base relocations name the pages they patch. None may lie in the resource
// section or after it: those bytes are rewritten or moved.
bool relocationsbefore(span image, const peheader& pe, std::uint32_t limit, std::string& error) {
  const directory& relocations = pe.directories[relocationdirectory];
  if (!relocations.size) return true;
  std::uint64_t at = 0;
  if (!pe.locate(relocations.va, relocations.size, at)) return fail(error, "the relocations lie outside the sections");
  for (std::uint64_t done = 0; relocations.size - done >= 8;) {
    std::uint32_t page = image.u32(at + done), size = image.u32(at + done + 4);
    if (size < 8 || size > relocations.size - done) return fail(error, "a relocation block's size does not fit");
    if (page >= limit) return fail(error, "relocations patch the resource section or a section after it");
    done += size;
  }
  return true;
}

// Whether the writer can replace section `r` of the image (see the header).
bool writable(span image, const peheader& pe, std::size_t r, std::string& error) {
  const section& rs = pe.sections[r];
  if (pe.filealignment == 0 || pe.sectionalignment == 0 || pe.filealignment & (pe.filealignment - 1) ||
      pe.sectionalignment & (pe.sectionalignment - 1))
    return fail(error, "the image's alignments are not powers of two");
  if (pe.directories[resourcedirectory].va != rs.va) return fail(error, "the resource directory does not start its section");
  if (!rs.rawsize || rs.rawptr < pe.sizeofheaders) return fail(error, "the resource section has no data of its own");
  for (std::size_t i = 0; i < pe.sections.size(); ++i) {
    const section& s = pe.sections[i];
    if (i > 0 && s.va <= pe.sections[i - 1].va) return fail(error, "the sections are not in address order");
    if (i < r && s.rawend() > rs.rawptr) return fail(error, "a section before the resources lies after them in the file");
    if (i > r) {
      const directory& relocations = pe.directories[relocationdirectory];
      bool onlyrelocations = relocations.size && relocations.va >= s.va &&
                             std::uint64_t(relocations.va) + relocations.size <= std::uint64_t(s.va) + s.readable();
      if (!onlyrelocations) return fail(error, "a section that cannot move follows the resource section");
      if (s.rawsize && s.rawptr < rs.rawend()) return fail(error, "a section after the resources lies before them in the file");
    }
  }
  for (std::uint32_t d = 0; d < pe.directories.size(); ++d) {
    if (d == resourcedirectory || d == securitydirectory || d == relocationdirectory || !pe.directories[d].size) continue;
    if (pe.directories[d].va >= rs.va) return fail(error, "a data directory lies in or after the resource section");
  }
  return relocationsbefore(image, pe, rs.va, error);
}

}  // namespace

bool resourcebefore(const resourceid& a, const resourceid& b) {
  if (a.named != b.named) return a.named;
  if (!a.named) return a.number < b.number;
  auto less = [](char16_t x, char16_t y) { return folded(x) < folded(y); };
  if (std::lexicographical_compare(a.text.begin(), a.text.end(), b.text.begin(), b.text.end(), less)) return true;
  if (std::lexicographical_compare(b.text.begin(), b.text.end(), a.text.begin(), a.text.end(), less)) return false;
  return a.text < b.text;
}

void sortresources(std::vector<resource>& resources) {
  std::stable_sort(resources.begin(), resources.end(), [](const resource& a, const resource& b) {
    if (!(a.type == b.type)) return resourcebefore(a.type, b.type);
    if (!(a.name == b.name)) return resourcebefore(a.name, b.name);
    return a.language < b.language;
  });
}

bool readresources(const unsigned char* bytes, std::size_t size, std::vector<resource>& out, std::string& error) {
  out.clear();
  span image{bytes, size};
  peheader pe;
  if (!readpe(image, pe, error)) return false;
  if (pe.directories.size() <= resourcedirectory || !pe.directories[resourcedirectory].va) return true;
  std::uint32_t root = pe.directories[resourcedirectory].va;
  const section* s = rootsection(pe, root);
  if (!s) return fail(error, "the resource directory lies outside the image's sections");
  std::uint64_t base = s->rawptr + (root - s->va);
  std::vector<resource> found;
  if (!treereader(image, pe, base, s->readable() - (root - s->va)).read(found, error)) return false;
  sortresources(found);
  for (std::size_t i = 1; i < found.size(); ++i)
    if (samekey(found[i - 1], found[i])) return fail(error, "a resource is stored twice");
  out = std::move(found);
  return true;
}

bool writeresources(std::vector<unsigned char>& image, std::vector<resource> resources, std::string& error) {
  span view{image.data(), image.size()};
  peheader pe;
  if (!readpe(view, pe, error)) return false;
  if (pe.directories.size() <= relocationdirectory) return fail(error, "the image has too few data directories");
  const section* found = rootsection(pe, pe.directories[resourcedirectory].va);
  if (!pe.directories[resourcedirectory].va || !found) return fail(error, "the image has no resource section");
  std::size_t r = std::size_t(found - pe.sections.data());
  if (!writable(view, pe, r, error)) return false;
  sortresources(resources);
  for (std::size_t i = 1; i < resources.size(); ++i)
    if (samekey(resources[i - 1], resources[i])) return fail(error, "a resource is given twice");

  const section rs = pe.sections[r];
  std::uint64_t total = 0;
  for (const resource& x : resources) total += x.data.size() + dataalignment + 64;
  if (total >= rvalimit || rs.va + alignup(total, pe.sectionalignment) >= rvalimit)
    return fail(error, "the resources are too large");
  std::vector<unsigned char> rsrc = sectionwriter(resources, rs.va).write();
  std::uint64_t rawsize = alignup(rsrc.size(), pe.filealignment);
  std::uint64_t oldvsize = rs.vsize ? rs.vsize : rs.rawsize;
  std::int64_t deltava = std::int64_t(alignup(rsrc.size(), pe.sectionalignment)) -
                         std::int64_t(alignup(oldvsize, pe.sectionalignment));
  std::int64_t deltaraw = std::int64_t(rawsize) - std::int64_t(rs.rawsize);

  // The bytes before the resources, the new section, then what follows it up
  // to the end of the last section.
  std::uint64_t end = rs.rawend();
  for (const section& s : pe.sections) end = std::max(end, s.rawend());
  std::vector<unsigned char> out(image.begin(), image.begin() + rs.rawptr);
  out.insert(out.end(), rsrc.begin(), rsrc.end());
  out.resize(rs.rawptr + rawsize, 0);
  out.insert(out.end(), image.begin() + rs.rawend(), image.begin() + end);

  put32(out, rs.header + 8, rsrc.size());
  put32(out, rs.header + 16, rawsize);
  for (std::size_t i = r + 1; i < pe.sections.size(); ++i) {
    const section& s = pe.sections[i];
    put32(out, s.header + 12, s.va + deltava);
    if (s.rawsize) put32(out, s.header + 20, s.rawptr + deltaraw);
  }
  put32(out, pe.directories[resourcedirectory].at + 4, rsrc.size());
  const directory& relocations = pe.directories[relocationdirectory];
  if (relocations.size && relocations.va > rs.va) put32(out, relocations.at, relocations.va + deltava);
  put32(out, pe.directories[securitydirectory].at, 0);
  put32(out, pe.directories[securitydirectory].at + 4, 0);
  put32(out, pe.optional + 56, view.u32(pe.optional + 56) + deltava);  // SizeOfImage
  if (rs.characteristics & initializeddata) put32(out, pe.optional + 8, view.u32(pe.optional + 8) + deltaraw);
  put32(out, pe.optional + 64, 0);  // CheckSum
  put32(out, pe.coff + 8, 0);       // PointerToSymbolTable: the symbols were past the last section
  put32(out, pe.coff + 12, 0);      // NumberOfSymbols
  image = std::move(out);
  return true;
}

}  // namespace kelvane
