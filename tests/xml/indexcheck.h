// Checks of a document's element index against its text, shared by the tests
// and the fuzz targets.
#pragma once

#include <string>
#include <vector>

#include "xml/xmldoc.h"

namespace kelvane::testing {

// Elements in document order: depth, tag lengths, offsets and flags. Two
// documents with the same outline have the same elements at the same places.
inline std::string outline(const xmldoc& doc) {
  std::string out;
  int depth = 0;
  for (std::uint32_t e = doc.record(0).firstchild; e;) {
    const elementrecord& r = doc.record(e);
    out += std::to_string(depth) + ":" + std::to_string(r.start) + "+" + std::to_string(r.length) + "/" +
           std::to_string(r.starttag()) + "/" + std::to_string(r.endtag()) + (r.flags & UNENDED ? "u" : "") +
           (r.flags & FIRST_CHILD ? "f" : "") + " ";
    if (r.firstchild) {
      e = r.firstchild;
      ++depth;
      continue;
    }
    while (e && !doc.record(e).nextsibling) e = doc.record(e).parent, --depth;
    if (e) e = doc.record(e).nextsibling;
  }
  return out;
}

// The first way in which the index disagrees with the text or with itself,
// or empty text when it is sound.
inline std::string indexproblem(const xmldoc& doc) {
  const std::u16string& t = doc.text();
  const elementrecord& root = doc.record(0);
  if (root.start != 0 || root.length != t.size()) return "record 0 does not span the text";
  std::uint32_t visited = 0;
  std::vector<std::uint32_t> parents{0};
  while (!parents.empty()) {
    std::uint32_t p = parents.back();
    parents.pop_back();
    const elementrecord& pr = doc.record(p);
    std::size_t low = p ? pr.start + pr.starttag() : 0;
    std::size_t high = p ? pr.start + pr.length - pr.endtag() : t.size();
    std::uint32_t first = pr.firstchild, previous = 0;
    for (std::uint32_t e = first; e; previous = e, e = doc.record(e).nextsibling) {
      if (++visited >= doc.elementcount()) return "a loop in the tree";
      const elementrecord& r = doc.record(e);
      std::string at = " at element " + std::to_string(e);
      if (r.parent != p) return "wrong parent" + at;
      if (bool(r.flags & FIRST_CHILD) != (e == first)) return "FIRST_CHILD misplaced" + at;
      if (e != first && r.previous != previous) return "wrong previous link" + at;
      if (!r.nextsibling && doc.record(first).previous != e) return "first child does not name the last" + at;
      if (r.start < low || std::size_t{r.start} + r.length > high) return "outside its parent" + at;
      if (r.starttag() < 2 || r.starttag() > r.length || t[r.start] != u'<' ||
          t[r.start + r.starttag() - 1] != u'>')
        return "bad start tag" + at;
      if (r.endtag() == 0 && r.length != r.starttag()) return "length without end tag" + at;
      if (r.endtag() && (r.starttag() + r.endtag() > r.length || t.compare(r.start + r.length - r.endtag(), 2, u"</") ||
                         t[r.start + r.length - 1] != u'>'))
        return "bad end tag" + at;
      low = std::size_t{r.start} + r.length;
      parents.push_back(e);
    }
  }
  if (visited + 1 != doc.elementcount()) return "records not in the tree";
  return {};
}

}  // namespace kelvane::testing
