#include "xml/scanner.h"

#include "xml/resultlog.h"

namespace kelvane {

namespace {

bool isstartchar(char16_t c) { return (c >= u'A' && c <= u'Z') || c == u'_' || c == u':' || c > 0x60; }
bool isquote(char16_t c) { return c == u'"' || c == u'\''; }
bool endsname(char16_t c) { return iswhitespace(c) || c == u'/' || c == u'>'; }

bool istokenbreak(char16_t c) {
  switch (c) {
    case u'!': case u'"': case u'\'': case u'/': case u';': case u'<': case u'=': case u'>': case u'?': case u'\\':
      return true;
    default:
      return iswhitespace(c);
  }
}

// One markup item that starts with "<": where it ends (just after it, or the
// end of the text when `complete` is false).
struct item {
  int kind;
  std::size_t end;
  bool complete;
  bool empty;
};

class markupscanner {
 public:
  markupscanner(nodescanner& scanner, std::size_t nodestart) : sc_(scanner), t_(scanner.text), start_(nodestart) {}

  // The item whose "<" stands at `at`; `inbody` inside a document type.
  item scan(std::size_t at, bool inbody) {
    std::size_t p = at + 1;
    if (p >= t_.size()) return unfinished(NODE_ERROR);
    char16_t c = t_[p];
    if (isstartchar(c)) return starttag(p);
    if (c == u'/') return named(NODE_END_TAG, p + 1, u">", at);
    if (c == u'?') return named(NODE_PI, p + 1, u"?>", at);
    if (c != u'!') return error(u"first_tag_syntax", p);
    if (++p >= t_.size()) return unfinished(NODE_ERROR);
    c = t_[p];
    if (c == u'-') {
      if (++p >= t_.size()) return unfinished(NODE_ERROR);
      if (t_[p] == u'-') return terminated(NODE_COMMENT, p + 1, u"-->", at);
      return error(u"comment_tag_syntax", p);
    }
    if (inbody) {
      if (c == u'A' || c == u'E' || c == u'N') return declaration(p + 1);
      return error(u"doctype_tag_syntax", p);
    }
    if (c == u'[') {
      if (++p >= t_.size()) return unfinished(NODE_ERROR);
      if (t_[p] == u'C') return terminated(NODE_CDATA, p + 1, u"]]>", at);
      return error(u"cdata_section_syntax", p);
    }
    if (c == u'D') return doctype(p + 1);
    return error(u"exclamation_tag_syntax", p);
  }

 private:
  item unfinished(int kind) const { return {kind, t_.size(), false, false}; }

  void record(const char16_t* name) { addrecord(sc_.errors, name, 0, static_cast<std::int64_t>(start_)); }

  // Sets the token to the name that starts at `from`.
  std::size_t name(std::size_t from) {
    std::size_t p = from;
    while (p < t_.size() && !endsname(t_[p])) ++p;
    sc_.tokenstart = from;
    sc_.tokenlength = p - from;
    return p;
  }

  // Start tags and error nodes follow attribute quoting: after an "=" (not
  // one that follows another "=") white space is skipped, then a quotation
  // mark opens a value that ends at the same mark, and anything else a value
  // that ends at white space. A ">" ends the item except inside quotation
  // marks; an error node also ends before any "<".
  item attributes(int kind, std::size_t p, bool stopatless) {
    enum { none, expecting, quotedvalue, plainvalue } state = none;
    char16_t quote = 0;
    for (; p < t_.size(); ++p) {
      char16_t c = t_[p];
      if (stopatless && c == u'<') return {kind, p, true, false};
      switch (state) {
        case quotedvalue:
          if (c == quote) state = none;
          continue;
        case expecting:
          if (iswhitespace(c)) continue;
          if (isquote(c)) {
            quote = c;
            state = quotedvalue;
            continue;
          }
          if (c == u'>') break;
          state = plainvalue;
          continue;
        case plainvalue:
          if (iswhitespace(c)) state = none;
          if (c == u'>') break;
          continue;
        case none:
          if (c == u'=' && t_[p - 1] != u'=') state = expecting;
          if (c == u'>') break;
          continue;
      }
      // c is the closing ">". "/>" makes an empty element, unless the "/"
      // ends an unquoted value ("<a href=x/>").
      bool empty = t_[p - 1] == u'/' &&
                   !(state == plainvalue && !iswhitespace(t_[p - 2]) && !isquote(t_[p - 2]));
      return {kind, p + 1, true, kind == NODE_START_TAG && empty};
    }
    return unfinished(kind);
  }

  item starttag(std::size_t from) { return attributes(NODE_START_TAG, name(from), false); }

  item error(const char16_t* syntax, std::size_t from) {
    record(syntax);
    return attributes(NODE_ERROR, from, true);
  }

  item named(int kind, std::size_t from, std::u16string_view terminator, std::size_t at) {
    return terminated(kind, name(from), terminator, at);
  }

  // Ends at a ">" preceded by the rest of the terminator, standing further
  // from the item's "<" than the terminator is long (so "<!-->" is a whole
  // comment while "<?>" is not a whole processing instruction).
  item terminated(int kind, std::size_t from, std::u16string_view terminator, std::size_t at) {
    std::size_t rest = terminator.size() - 1;
    for (std::size_t p = from; p < t_.size(); ++p) {
      if (t_[p] != u'>' || p - at <= terminator.size()) continue;
      if (t_.substr(p - rest, rest) == terminator.substr(0, rest)) return {kind, p + 1, true, false};
    }
    return unfinished(kind);
  }

  // An internal declaration of a document type: quotation marks open and
  // close quoted parts, a ">" outside them ends it.
  item declaration(std::size_t p) {
    char16_t quote = 0;
    for (; p < t_.size(); ++p) {
      char16_t c = t_[p];
      if (quote) {
        if (c == quote) quote = 0;
      } else if (isquote(c)) {
        quote = c;
      } else if (c == u'>') {
        return {NODE_DOCTYPE, p + 1, true, false};
      }
    }
    return unfinished(NODE_DOCTYPE);
  }

  // The body of a document type: nested items, and its own closing ">".
  item doctype(std::size_t p) {
    while (p < t_.size()) {
      char16_t c = t_[p];
      if (c == u'>') return {NODE_DOCTYPE, p + 1, true, false};
      if (c != u'<') {
        ++p;
        continue;
      }
      item nested = scan(p, true);
      if (!nested.complete) break;
      p = nested.end;
    }
    return unfinished(NODE_DOCTYPE);
  }

  nodescanner& sc_;
  std::u16string_view t_;
  std::size_t start_;
};

const char16_t* unterminatedtype(int kind) {
  switch (kind) {
    case NODE_START_TAG: return u"start_tag";
    case NODE_END_TAG: return u"end_tag";
    case NODE_CDATA: return u"cdata_section";
    case NODE_PI: return u"processing_instruction";
    case NODE_COMMENT: return u"comment";
    case NODE_DOCTYPE: return u"document_type";
    default: return u"tag";
  }
}

}  // namespace

int nextnode(nodescanner& sc, noderesult& node) {
  const std::u16string_view t = sc.text;
  const std::size_t start = sc.position;
  node = noderesult{NODE_NONE, start, 0, false};
  if (start >= t.size()) return NODE_NONE;

  std::size_t end = start;
  if (t[start] != u'<') {
    node.kind = NODE_WHITESPACE;
    while (end < t.size() && iswhitespace(t[end])) ++end;
    if (end < t.size() && t[end] != u'<') {
      node.kind = NODE_TEXT;
      while (end < t.size() && t[end] != u'<')
        if (t[end++] == u'>') break;
    }
  } else {
    item it = markupscanner(sc, start).scan(start, false);
    node.kind = it.kind;
    node.empty = it.empty;
    end = it.end;
    if (!it.complete) {
      addrecord(sc.errors, u"unterminated_tag_syntax", unterminatedtype(it.kind), LOG_TYPE,
                static_cast<std::int64_t>(start));
      node.kind = NODE_ERROR;
    }
  }
  node.length = end - start;
  sc.position = end;
  return node.kind;
}

bool nexttoken(nodescanner& sc) {
  const std::u16string_view t = sc.text;
  std::size_t p = sc.position;
  while (p < t.size() && iswhitespace(t[p])) ++p;
  if (p >= t.size()) {
    sc.position = p;
    return false;
  }
  std::size_t end = p;
  while (end < t.size() && !istokenbreak(t[end])) ++end;
  if (end == p) ++end;
  sc.tokenstart = p;
  sc.tokenlength = end - p;
  sc.position = end;
  return true;
}

namespace {

char16_t fold(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

bool continuesname(char16_t c) { return c == u' ' || c == u'/' || c == u'=' || c == u'[' || c == u']'; }

}  // namespace

bool tokenequals(const nodescanner& sc, std::u16string_view literal) {
  std::u16string_view token = sc.token();
  if (token.size() > literal.size()) return false;
  for (std::size_t i = 0; i < token.size(); ++i)
    if (sc.foldcase ? fold(token[i]) != fold(literal[i]) : token[i] != literal[i]) return false;
  return token.size() == literal.size() || continuesname(literal[token.size()]);
}

bool findattribute(nodescanner& sc, std::u16string_view wanted, std::u16string* value) {
  const std::u16string_view t = sc.text;
  bool elementname = true;      // the first name is the element's (or the target's)
  bool expectingvalue = false;  // the token after "="
  bool matched = false;
  std::size_t matchstart = 0, matchend = 0;
  std::size_t listend = sc.position;  // just after the last attribute or the name

  auto succeed = [&](std::size_t tokenstart, std::size_t tokenlength, std::size_t after, bool valueless) {
    sc.tokenstart = tokenstart;
    sc.tokenlength = tokenlength;
    sc.position = after;
    sc.valueless = valueless;
    if (valueless) sc.quoted = false;
    if (value) value->assign(t.substr(tokenstart, tokenlength));
    return true;
  };
  auto valueless = [&] { return succeed(matchstart, matchend - matchstart, matchend, true); };

  sc.valueless = false;
  for (;;) {
    std::size_t blankstart = sc.position;
    std::size_t p = blankstart;
    while (p < t.size() && iswhitespace(t[p])) ++p;
    // The end of the text, or a ">" where a value should be, ends the tag.
    // A name followed by "=" and nothing gets an empty value there.
    if (p >= t.size() || (expectingvalue && t[p] == u'>')) {
      if (matched && expectingvalue) return succeed(p, 0, p, false);
      sc.position = blankstart;
      break;
    }
    std::size_t start = p, end;
    if (isquote(t[p])) {
      char16_t quote = t[p];
      end = ++start;
      while (end < t.size() && t[end] != quote) ++end;
      sc.position = end < t.size() ? end + 1 : end;
      sc.quoted = true;
      sc.tokenstart = start;
      sc.tokenlength = end - start;
      if (matched) return expectingvalue ? succeed(start, end - start, sc.position, false) : valueless();
      expectingvalue = false;
      elementname = false;
      listend = sc.position;
      continue;
    }
    end = p;
    while (end < t.size() && !iswhitespace(t[end]) && t[end] != u'>' &&
           (expectingvalue || (t[end] != u'/' && t[end] != u'=' && t[end] != u'?')))
      ++end;
    if (end == p) ++end;
    sc.position = end;
    sc.quoted = false;
    sc.tokenstart = start;
    sc.tokenlength = end - start;
    if (expectingvalue) {
      if (matched) return succeed(start, end - start, end, false);
      expectingvalue = false;
      listend = end;
      continue;
    }
    char16_t first = t[start];
    if (first == u'=') {
      expectingvalue = true;
      continue;
    }
    if (first == u'>' || first == u'/' || first == u'?') {
      sc.position = blankstart;
      break;
    }
    if (matched) return valueless();
    if (!elementname && tokenequals(sc, wanted)) {
      matched = true;
      matchstart = start;
      matchend = end;
    }
    elementname = false;
    listend = end;
  }
  if (matched) return valueless();
  sc.position = listend;
  return false;
}

}  // namespace kelvane
