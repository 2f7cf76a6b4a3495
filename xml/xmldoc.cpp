#include "xml/xmldoc.h"

#include <vector>

#include "xml/resultlog.h"
#include "xml/textfile.h"

namespace kelvane {

namespace {

constexpr std::u16string_view kBreak = u"\r\n";

bool endsstep(char16_t c) { return c == u' ' || c == u'/' || c == u'=' || c == u'[' || c == u']'; }

// A stack name closes with an end tag of the same name, or of the name up to
// a space, "/", "=", "[" or "]".
bool closes(std::u16string_view endname, std::u16string_view openname) {
  return openname.substr(0, endname.size()) == endname &&
         (openname.size() == endname.size() || endsstep(openname[endname.size()]));
}

bool isnamestart(char16_t c) { return (c >= u'A' && c <= u'Z') || c == u'_' || c == u':' || c > 0x60; }

// A name that scans back as the name of one start tag.
bool validname(std::u16string_view name) {
  if (name.empty() || !isnamestart(name[0])) return false;
  for (char16_t c : name)
    if (iswhitespace(c) || c == u'/' || c == u'>' || c == u'<') return false;
  return true;
}

// The length of the entity reference at text[i] ("&amp;", "&#233;"), or 0.
std::size_t entityreference(std::u16string_view text, std::size_t i) {
  auto isletter = [](char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); };
  std::size_t p = i + 1;
  if (p >= text.size()) return 0;
  char16_t c = text[p];
  if (!(c == u'#' || c == u':' || c == u'_' || isletter(c) || c > 0x7F)) return 0;
  for (++p; p < text.size(); ++p) {
    c = text[p];
    if (c == u';') return p + 1 - i;
    if (!(c == u'-' || c == u'.' || (c >= u'0' && c <= u'9') || c == u':' || c == u'_' || isletter(c) || c > 0x7F))
      return 0;
  }
  return 0;
}

// Path grammar: steps separated by "/", each a name with at most one
// predicate: [digits], [@name], [@name=value] or [name].
class pathreader {
 public:
  explicit pathreader(std::u16string_view path) : p_(path) {}

  bool wellformed() {
    for (;;) {
      if (!name()) return false;
      if (peek(u'[') && !predicate()) return false;
      if (i_ == p_.size()) return true;
      if (!take(u'/')) return false;
    }
  }

 private:
  bool peek(char16_t c) const { return i_ < p_.size() && p_[i_] == c; }
  bool take(char16_t c) {
    if (!peek(c)) return false;
    ++i_;
    return true;
  }
  bool name() {
    std::size_t start = i_;
    while (i_ < p_.size() && !endsstep(p_[i_])) ++i_;
    return i_ > start;
  }
  bool predicate() {
    ++i_;  // "["
    if (i_ < p_.size() && p_[i_] >= u'1' && p_[i_] <= u'9') {
      while (i_ < p_.size() && p_[i_] >= u'0' && p_[i_] <= u'9') ++i_;
    } else if (take(u'@')) {
      if (!name()) return false;
      if (take(u'=')) {
        if (peek(u'"') || peek(u'\'')) {
          char16_t quote = p_[i_++];
          while (i_ < p_.size() && p_[i_] != quote) ++i_;
          if (!take(quote)) return false;
        } else {
          while (i_ < p_.size() && p_[i_] != u']') ++i_;
        }
      }
    } else if (!name()) {
      return false;
    }
    return take(u']');
  }

  std::u16string_view p_;
  std::size_t i_ = 0;
};

}  // namespace

bool pathmatches(std::u16string_view path, std::u16string_view elementname) {
  if (path.empty()) return true;
  if (path[0] == u'/' || !pathreader(path).wellformed()) return false;
  std::size_t end = 0;
  while (end < path.size() && !endsstep(path[end])) ++end;
  return path.substr(0, end) == elementname;
}

std::u16string escapetext(std::u16string_view text, unsigned flags) {
  std::u16string out;
  out.reserve(text.size() + text.size() / 10 + 7);
  for (std::size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c == u'&' && (flags & KEEP_REFS)) {
      if (std::size_t n = entityreference(text, i)) {
        out.append(text.substr(i, n));
        i += n - 1;
        continue;
      }
    }
    switch (c) {
      case u'&': out += u"&amp;"; break;
      case u'<': out += u"&lt;"; break;
      case u'>': out += u"&gt;"; break;
      case u'"': out += flags & QUOTES ? u"&quot;" : u"\""; break;
      case u'\'': out += flags & QUOTES ? u"&apos;" : u"'"; break;
      default: out += c;
    }
  }
  return out;
}

std::u16string cdatasection(std::u16string_view text) {
  std::u16string out = u"<![CDATA[";
  for (std::size_t at; (at = text.find(u"]]>")) != std::u16string_view::npos; text.remove_prefix(at + 3)) {
    out.append(text.substr(0, at));
    out += u"]]]]><![CDATA[>";
  }
  out.append(text);
  out += u"]]>";
  return out;
}

xmldoc::xmldoc() { settext(nullptr); }

bool xmldoc::settext(const std::u16string_view* text) {
  if (text) {
    std::u16string copy(*text);  // the text may be a view of our own
    text_.swap(copy);
  } else {
    std::u16string().swap(text_);
    index_.release();
  }
  resultlog_.clear();
  return parse();
}

bool xmldoc::loadfile(std::u16string_view path) {
  bool read = readtextfile(path, text_, &resultlog_, &docflags_);
  bool wellformed = parse();  // also after a failed read: the index must describe the (empty) text
  return read && wellformed;
}

bool xmldoc::savefile(std::u16string_view path) { return writetextfile(path, text_, &resultlog_, &docflags_); }

void xmldoc::resetpositions() { parentpos_ = currentpos_ = childpos_ = 0, currenttype_ = 0; }

bool xmldoc::parse() {
  resetpositions();
  elementcount_ = 1;
  index_.grow(text_.size() / 64 + 8);
  index_[0] = elementrecord{};
  if (text_.size() >= UINT32_MAX) {
    index_[0].flags |= ILL_FORMED;  // offsets are 32 bits
  } else if (!text_.empty()) {
    nodescanner scanner(text_);
    std::uint32_t first = parseelements(0, scanner);
    index_[0].length = static_cast<std::uint32_t>(text_.size());
    if (!first)
      addrecord(resultlog_, u"no_root_element");
    else if (index_[first].nextsibling)
      addrecord(resultlog_, u"root_has_sibling");
  }
  resetpositions();
  const elementrecord& root = index_[0];
  return index_.allocated() && !(root.flags & ILL_FORMED) && root.firstchild && !index_[root.firstchild].nextsibling;
}

std::uint32_t xmldoc::newrecord() {
  if (elementcount_ == UINT32_MAX) return 0;
  if (elementcount_ >= index_.allocated())
    index_.grow(std::uint64_t{elementcount_} + std::max<std::uint32_t>(elementcount_ / 2, 1));
  index_[elementcount_] = elementrecord{};
  return elementcount_++;
}

std::uint32_t xmldoc::parseelements(std::uint32_t startrecord, nodescanner& scanner) {
  struct openelement {
    std::uint32_t element;
    std::u16string_view name;
  };
  std::vector<openelement> open;
  std::uint32_t parent = startrecord, first = 0;
  auto illformed = [&] { index_[0].flags |= ILL_FORMED; };
  auto tagtoolong = [&](const char16_t* type, std::size_t offset) {
    illformed();
    addrecord(resultlog_, u"tag_too_long", type, LOG_TYPE, static_cast<std::int64_t>(offset));
  };
  // Closes the open elements above depth `keep` as unended. They are taken
  // outermost first so that each child moves up only once; the result is the
  // same as closing them innermost first, the order of the records.
  auto closeabove = [&](std::size_t keep, std::uint64_t offset2) {
    for (std::size_t i = keep; i < open.size(); ++i) closeunended(open[i].element, offset2);
    for (std::size_t i = open.size(); i-- > keep;)
      addrecord(resultlog_, u"unended_start_tag", open[i].name, 0, index_[open[i].element].start,
                static_cast<std::int64_t>(offset2));
    open.resize(keep);
  };

  noderesult node;
  for (;;) {
    int kind = nextnode(scanner, node);
    if (kind == NODE_NONE) break;
    if (kind == NODE_START_TAG) {
      if (node.length > kMaxStartTag) {
        tagtoolong(u"start_tag", node.start);
        continue;
      }
      std::uint32_t e = newrecord();
      if (!e) break;
      if (!first) first = e;
      elementrecord& r = index_[e];
      r.start = static_cast<std::uint32_t>(node.start);
      r.settags(static_cast<std::uint32_t>(node.length), 0);
      link(e, parent, 0, false);
      if (node.empty) {
        r.length = static_cast<std::uint32_t>(node.length);
      } else {
        open.push_back({e, scanner.token()});
        parent = e;
      }
    } else if (kind == NODE_END_TAG) {
      std::u16string_view name = scanner.token();
      std::size_t i = open.size();
      while (i > 0 && !closes(name, open[i - 1].name)) --i;
      if (i == 0) {
        illformed();
        addrecord(resultlog_, u"lone_end_tag", name, 0, static_cast<std::int64_t>(node.start));
      } else if (node.length > kMaxEndTag) {
        tagtoolong(u"end_tag", node.start);
      } else {
        closeabove(i, node.start + 1);
        std::uint32_t matched = open.back().element;
        open.pop_back();
        elementrecord& r = index_[matched];
        r.length = static_cast<std::uint32_t>(node.start + node.length - r.start);
        r.settags(r.starttag(), static_cast<std::uint32_t>(node.length));
        parent = r.parent;
      }
    } else if (kind == NODE_ERROR) {
      illformed();
      if (resultlog_.size() < 1000) resultlog_ += scanner.errors;
      scanner.errors.clear();
    }
  }
  closeabove(0, text_.size());
  return first;
}

// Closes open element E, the last child of its parent, right after its start
// tag: its children become the siblings that follow it.
void xmldoc::closeunended(std::uint32_t element, std::uint64_t) {
  index_[0].flags |= ILL_FORMED;
  elementrecord& e = index_[element];
  e.settags(e.starttag(), 0);
  e.flags |= UNENDED;
  e.length = e.starttag();
  std::uint32_t first = e.firstchild;
  if (!first) return;
  std::uint32_t last = index_[first].previous;
  for (std::uint32_t c = first; c; c = index_[c].nextsibling) index_[c].parent = e.parent;
  index_[first].flags &= ~FIRST_CHILD;
  index_[first].previous = element;
  index_[last].nextsibling = e.nextsibling;
  if (e.nextsibling)
    index_[e.nextsibling].previous = last;
  else
    index_[index_[e.parent].firstchild].previous = last;
  e.nextsibling = first;
  e.firstchild = 0;
}

void xmldoc::link(std::uint32_t element, std::uint32_t parent, std::uint32_t reference, bool before) {
  elementrecord& p = index_[parent];
  std::uint32_t after;  // the element that the new one follows; 0: none, it comes first
  if (before)
    after = reference && !(index_[reference].flags & FIRST_CHILD) ? index_[reference].previous : 0;
  else
    after = reference ? reference : p.firstchild ? index_[p.firstchild].previous : 0;
  elementrecord& n = index_[element];
  n.parent = parent;
  if (after) {
    n.flags &= ~FIRST_CHILD;
    n.nextsibling = index_[after].nextsibling;
    n.previous = after;
    index_[after].nextsibling = element;
    index_[n.nextsibling ? n.nextsibling : p.firstchild].previous = element;
  } else {
    n.flags |= FIRST_CHILD;
    std::uint32_t old = p.firstchild;
    if (old) {
      n.nextsibling = old;
      n.previous = index_[old].previous;
      index_[old].previous = element;
      index_[old].flags &= ~FIRST_CHILD;
    } else {
      n.nextsibling = 0;
      n.previous = element;
    }
    p.firstchild = element;
  }
}

std::u16string xmldoc::elementname(std::uint32_t element) const {
  if (element == 0 || element >= elementcount_) return {};
  nodescanner scanner(text_, index_[element].start + 1);
  return nexttoken(scanner) ? std::u16string(scanner.token()) : std::u16string();
}

bool xmldoc::matchesfirst(std::uint32_t from, const char16_t* name, std::uint32_t& found) const {
  std::u16string_view path = name ? name : u"";
  for (std::uint32_t c = from; c; c = index_[c].nextsibling) {
    if (pathmatches(path, elementname(c))) {
      found = c;
      return true;
    }
  }
  return false;
}

bool xmldoc::nextelement(const char16_t* name) {
  if (!index_.allocated()) return false;
  std::uint32_t from = currentpos_ ? index_[currentpos_].nextsibling : index_[parentpos_].firstchild;
  std::uint32_t found;
  if (!matchesfirst(from, name, found)) return false;
  currentpos_ = found;
  parentpos_ = index_[found].parent;
  childpos_ = 0;
  currenttype_ = 1;
  return true;
}

bool xmldoc::nextchild(const char16_t* name) {
  if (!currentpos_) nextelement();
  if (!currentpos_) return false;
  std::uint32_t from = childpos_ ? index_[childpos_].nextsibling : index_[currentpos_].firstchild;
  std::uint32_t found;
  if (!matchesfirst(from, name, found)) return false;
  childpos_ = found;
  parentpos_ = index_[currentpos_].parent;
  currenttype_ = 1;
  return true;
}

void xmldoc::splice(std::size_t at, std::size_t replaced, std::u16string_view with) {
  std::size_t length = text_.size() - replaced + with.size();
  if (length > text_.capacity()) text_.reserve(length + length / 2 + 128);
  text_.replace(at, replaced, with);
}

void xmldoc::shiftafter(std::uint32_t element, std::int64_t diff) {
  auto moved = [diff](std::uint32_t value) { return static_cast<std::uint32_t>(value + diff); };
  // Every element of the subtree under `root` (the root too when `withroot`).
  auto movesubtree = [&](std::uint32_t root, bool withroot) {
    std::uint32_t c = root;
    if (withroot) index_[c].start = moved(index_[c].start);
    for (;;) {
      if (index_[c].firstchild) {
        c = index_[c].firstchild;
      } else {
        while (c != root && !index_[c].nextsibling) c = index_[c].parent;
        if (c == root) return;
        c = index_[c].nextsibling;
      }
      index_[c].start = moved(index_[c].start);
    }
  };
  movesubtree(element, false);
  for (std::uint32_t a = element; a != 0; a = index_[a].parent) {
    for (std::uint32_t s = index_[a].nextsibling; s; s = index_[s].nextsibling) movesubtree(s, true);
    elementrecord& parent = index_[index_[a].parent];
    parent.length = moved(parent.length);
  }
}

bool xmldoc::setattribute(std::uint32_t element, std::u16string_view name, std::u16string_view value,
                          unsigned flags) {
  if (element == 0 || element >= elementcount_ || currenttype_ != 1) return false;
  elementrecord& r = index_[element];
  const std::size_t tagend = std::size_t{r.start} + r.starttag();  // just after the ">"
  std::u16string escaped = escapetext(value, flags | QUOTES);
  nodescanner scanner(std::u16string_view(text_).substr(0, tagend), r.start + 1);
  std::size_t at, replaced = 0;
  std::u16string with;
  if (!findattribute(scanner, name)) {
    at = scanner.position;
    with = u" " + std::u16string(name) + u"=\"" + escaped + u"\"";
  } else if (scanner.valueless) {
    // A bare name ("<option selected>") keeps its name and gets a value.
    at = scanner.tokenstart + scanner.tokenlength;
    with = u"=\"" + escaped + u"\"";
  } else {
    at = scanner.quoted ? scanner.tokenstart - 1 : scanner.tokenstart;
    replaced = scanner.position - at;
    with = u"\"" + escaped + u"\"";
  }
  // The ">" must stay where it is; a tag whose quoting cannot be followed is
  // left alone, and so is one that would outgrow its length field.
  const std::int64_t diff = static_cast<std::int64_t>(with.size()) - static_cast<std::int64_t>(replaced);
  if (at + replaced >= tagend || r.starttag() + diff > kMaxStartTag ||
      text_.size() + with.size() - replaced >= UINT32_MAX)
    return false;
  splice(at, replaced, with);
  r.settags(static_cast<std::uint32_t>(r.starttag() + diff), r.endtag());
  r.length = static_cast<std::uint32_t>(r.length + diff);
  shiftafter(element, diff);
  return true;
}

bool xmldoc::setattributeint(std::u16string_view name, long long number, unsigned flags) {
  std::string digits = std::to_string(number);
  return setattribute(currentpos_, name, std::u16string(digits.begin(), digits.end()), flags);
}

bool xmldoc::insertelement(std::u16string_view name, const char16_t* content, unsigned flags) {
  const bool aschild = flags & AS_CHILD, before = flags & BEFORE, breaks = !(flags & NO_BREAKS);
  if (aschild && !currentpos_) return false;
  const std::uint32_t parent = aschild ? currentpos_ : parentpos_;
  const std::uint32_t reference = aschild ? childpos_ : currentpos_;
  const std::u16string_view body = content ? content : u"";
  if ((flags & NO_END_TAG) && !body.empty()) return false;
  if (!validname(name) || !index_.allocated()) return false;
  if (reference && index_[reference].parent != parent) return false;

  // The element's own text, its start-tag and end-tag lengths.
  std::u16string element = u"<" + std::u16string(name);
  std::size_t starttag, endtag = 0;
  if (!body.empty()) {
    element += u">" + (flags & AS_CDATA ? cdatasection(body) : escapetext(body, flags)) + u"</" +
               std::u16string(name) + u">";
    starttag = name.size() + 2;
    endtag = name.size() + 3;
  } else {
    element += flags & NO_END_TAG ? u">" : flags & SPACE_SLASH ? u" />" : u"/>";
    starttag = element.size();
  }
  const std::size_t elementlength = element.size();
  if (starttag > kMaxStartTag || endtag > kMaxEndTag) return false;

  // Where it goes: `at`, `replaced` units there, `inserted`; the new element
  // starts at `start`.
  const elementrecord& p = index_[parent];
  std::size_t at, replaced = 0, start;
  std::u16string inserted;
  std::u16string parentname;
  bool openparent = false;  // an empty parent gets an end tag
  if (parent && p.starttag() == p.length) {
    parentname = elementname(parent);
    if (parentname.size() + 3 > kMaxEndTag) return false;
    if (breaks) element += kBreak;
    inserted = u">" + std::u16string(breaks ? kBreak : u"") + element + u"</" + parentname;
    if (p.flags & UNENDED) {
      at = p.start + p.starttag() - 1;  // the ">"
    } else {
      at = p.start + p.starttag() - 2;  // the "/" of "/>"
      if (text_[at] != u'/') return false;
      replaced = 1;
    }
    start = at + 1 + (breaks ? kBreak.size() : 0);
    openparent = true;
  } else {
    const elementrecord& r = index_[reference];
    if (reference)
      at = before ? r.start : std::size_t{r.start} + r.length;
    else if (parent)
      at = before ? std::size_t{p.start} + p.starttag() : std::size_t{p.start} + p.length - p.endtag();
    else
      at = before ? 0 : text_.size();
    if (breaks) {
      std::size_t next = at;
      while (next < text_.size() && iswhitespace(text_[next])) ++next;
      if (next == text_.size() || text_[next] == u'<') at = next;
      element += kBreak;
    }
    start = at;
    inserted = element;
    if (parent && p.starttag() + p.endtag() == p.length) {
      if (breaks) inserted = std::u16string(kBreak) + element;
      start = at + (breaks ? kBreak.size() : 0);
    }
  }
  if (text_.size() + inserted.size() >= UINT32_MAX) return false;

  const std::uint32_t n = newrecord();
  if (!n) return false;
  splice(at, replaced, inserted);
  if (openparent) {
    elementrecord& q = index_[parent];
    q.settags(static_cast<std::uint32_t>(q.starttag() - replaced), static_cast<std::uint32_t>(parentname.size() + 3));
    q.flags &= ~UNENDED;
  }
  elementrecord& e = index_[n];
  e.start = static_cast<std::uint32_t>(start);
  e.length = static_cast<std::uint32_t>(elementlength);
  e.settags(static_cast<std::uint32_t>(starttag), static_cast<std::uint32_t>(endtag));
  e.flags = flags & NO_END_TAG ? std::uint32_t{UNENDED} : 0u;
  link(n, parent, reference, before);
  shiftafter(n, static_cast<std::int64_t>(inserted.size()) - static_cast<std::int64_t>(replaced));

  if (aschild) {
    childpos_ = n;
  } else {
    parentpos_ = parent;
    currentpos_ = n;
    childpos_ = 0;
  }
  currenttype_ = 1;
  return true;
}

}  // namespace kelvane
