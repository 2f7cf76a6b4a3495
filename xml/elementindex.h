// The element index of a document: one record per element, linked into a tree
// by index numbers and pointing into the text by offset and length. Records
// live in pages of 65,536, so index numbers never change and growing a large
// index copies at most the records of its last page.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace kelvane {

enum : std::uint32_t {
  FIRST_CHILD = 0x80000,
  UNENDED = 0x100000,     // no end tag: closed right after its start tag
  ILL_FORMED = 0x800000,  // record 0 only: the parse met a problem
};

// Start-tag lengths share a word with end-tag lengths: 22 bits and 10 bits.
constexpr std::uint32_t kMaxStartTag = (1u << 22) - 1;
constexpr std::uint32_t kMaxEndTag = (1u << 10) - 1;

struct elementrecord {
  std::uint32_t start;       // offset of the "<" of the start tag
  std::uint32_t length;      // through the end tag, or the start tag when there is none
  std::uint32_t taglengths;  // start-tag length in the low 22 bits, end-tag length in the high 10
  std::uint32_t flags;
  std::uint32_t parent;      // 0: the document
  std::uint32_t firstchild;
  std::uint32_t nextsibling;
  std::uint32_t previous;    // for the first child: the last child of the parent

  std::uint32_t starttag() const { return taglengths & kMaxStartTag; }
  std::uint32_t endtag() const { return taglengths >> 22; }
  void settags(std::uint32_t starttag, std::uint32_t endtag) { taglengths = (starttag & kMaxStartTag) | endtag << 22; }
};

class elementindex {
 public:
  static constexpr std::uint32_t kPageSize = 65536;

  // Makes room for n records, at most up to the end of the page after the
  // last one allocated; the last page holds exactly the records allocated in it.
  void grow(std::uint64_t n);
  void release();  // no pages any more

  std::uint32_t allocated() const { return allocated_; }
  elementrecord& operator[](std::uint32_t i) { return pages_[i >> 16][i & 0xFFFF]; }
  const elementrecord& operator[](std::uint32_t i) const { return pages_[i >> 16][i & 0xFFFF]; }

  // For tests: the page table's size and how many records page p holds.
  std::size_t tablesize() const { return pages_.size(); }
  std::uint32_t pagesize(std::uint32_t page) const;

 private:
  std::vector<std::unique_ptr<elementrecord[]>> pages_;
  std::uint32_t allocated_ = 0;
};

}  // namespace kelvane
