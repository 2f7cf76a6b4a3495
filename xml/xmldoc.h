// An XML document: its UTF-16 text plus an element index. Edits splice the
// text in place and keep the index in step, so everything an edit does not
// touch (other attributes, white space, comments, line ends, the declaration)
// stays character for character as loaded. The parse is tolerant: unended
// elements, lone end tags and broken markup are repaired and noted in the
// result log, and only mark the document as not well-formed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "xml/elementindex.h"
#include "xml/scanner.h"

namespace kelvane {

// Flags of insertelement and of escaping.
enum : unsigned {
  AS_CDATA = 0x1,      // content as CDATA sections instead of escaped text
  NO_BREAKS = 0x2,     // no CR LF added, no white space skipped
  SPACE_SLASH = 0x4,   // an empty element ends in " />"
  KEEP_REFS = 0x8,     // escaping leaves entity references as they are
  NO_END_TAG = 0x10,   // no end tag and no content
  QUOTES = 0x100,      // escaping for an attribute value
  BEFORE = 0x2000,     // before the reference element (first when there is none)
  AS_CHILD = 0x4000,   // under the current element instead of beside it
};

class xmldoc {
 public:
  xmldoc();

  // Replaces the text (null: empties it and releases its memory and the
  // index), clears the log and parses. True when well-formed.
  bool settext(const std::u16string_view* text);
  bool settext(std::u16string_view text) { return settext(&text); }

  // Reads the file in its own encoding and parses it. False when it cannot
  // be read (the document is then empty) or is not well-formed.
  bool loadfile(std::u16string_view path);
  // Writes the text in the encoding it was loaded from (see textfile.h).
  bool savefile(std::u16string_view path);

  // The next element at the current level whose name matches (null or empty:
  // any); it becomes the current element. Unchanged position when none.
  bool nextelement(const char16_t* name = nullptr);
  // The next child of the current element (the first element of the current
  // level becomes current when there is none) whose name matches; it becomes
  // the current child.
  bool nextchild(const char16_t* name = nullptr);

  // A new element named `name` with escaped `content` (or CDATA, or none)
  // beside the current element, or under it with AS_CHILD; it becomes the
  // current element (with AS_CHILD: the current child).
  bool insertelement(std::u16string_view name, const char16_t* content, unsigned flags);
  // Replaces the value of attribute `name` of `element`, or adds it.
  bool setattribute(std::uint32_t element, std::u16string_view name, std::u16string_view value, unsigned flags);
  bool setattributeint(std::u16string_view name, long long number, unsigned flags);

  // The tag name of an element; empty for 0.
  std::u16string elementname(std::uint32_t element) const;

  const std::u16string& text() const { return text_; }
  const std::u16string& resultlog() const { return resultlog_; }
  std::uint32_t docflags() const { return docflags_; }
  std::uint32_t elementcount() const { return elementcount_; }
  const elementrecord& record(std::uint32_t element) const { return index_[element]; }
  const elementindex& index() const { return index_; }
  std::uint32_t parentpos() const { return parentpos_; }
  std::uint32_t currentpos() const { return currentpos_; }
  std::uint32_t childpos() const { return childpos_; }
  int currenttype() const { return currenttype_; }

 private:
  bool parse();
  std::uint32_t parseelements(std::uint32_t startrecord, nodescanner& scanner);
  std::uint32_t newrecord();
  void closeunended(std::uint32_t element, std::uint64_t offset2);
  void resetpositions();
  bool matchesfirst(std::uint32_t from, const char16_t* name, std::uint32_t& found) const;
  void splice(std::size_t at, std::size_t replaced, std::u16string_view with);
  void shiftafter(std::uint32_t element, std::int64_t diff);
  void link(std::uint32_t element, std::uint32_t parent, std::uint32_t reference, bool before);

  std::u16string text_;
  std::u16string resultlog_;
  std::uint32_t docflags_ = 0;
  elementindex index_;
  std::uint32_t elementcount_ = 0;
  std::uint32_t parentpos_ = 0;
  std::uint32_t currentpos_ = 0;
  std::uint32_t childpos_ = 0;
  int currenttype_ = 0;
};

// Escapes & < > (and with QUOTES also " and ') for text or an attribute value;
// KEEP_REFS leaves entity references such as "&amp;" or "&#233;" unchanged.
std::u16string escapetext(std::u16string_view text, unsigned flags);
// "<![CDATA[", the text with each "]]>" split across two sections, "]]>".
std::u16string cdatasection(std::u16string_view text);

// Whether `path` (steps such as "a/b[2]/@c") names elements whose tag name is
// `elementname`: only the leading name is compared; the rest must be well formed.
bool pathmatches(std::u16string_view path, std::u16string_view elementname);

}  // namespace kelvane
