// Scanning XML text without building anything: nodes one after the other
// (nextnode), word tokens inside a tag (nexttoken) and attributes of a start
// tag (findattribute). The scanner never reads outside its text, whatever the
// text holds.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kelvane {

enum nodekind : int {
  NODE_END_TAG = 0,      // "</" through ">"
  NODE_START_TAG = 1,    // "<" and a name character through ">"
  NODE_TEXT = 2,         // text up to the next "<" or through the next ">"
  NODE_WHITESPACE = 4,   // TAB, LF, CR and space up to the next "<"
  NODE_CDATA = 8,        // "<![C" through "]]>"
  NODE_PI = 16,          // "<?" through "?>"
  NODE_COMMENT = 32,     // "<!--" through "-->"
  NODE_DOCTYPE = 64,     // "<!D" through its ">", internal declarations included
  NODE_ERROR = -1,       // broken markup, through the next ">" or up to the next "<"
  NODE_NONE = -2,        // the end of the text
};

struct noderesult {
  int kind = NODE_NONE;
  std::size_t start = 0;
  std::size_t length = 0;
  bool empty = false;  // a start tag that ends in "/>"
};

struct nodescanner {
  explicit nodescanner(std::u16string_view text, std::size_t position = 0) : text(text), position(position) {}

  std::u16string_view token() const { return text.substr(tokenstart, tokenlength); }

  std::u16string_view text;
  std::size_t position;  // of the next character to look at
  std::size_t tokenstart = 0;
  std::size_t tokenlength = 0;
  bool quoted = false;     // the last token of findattribute stood between quotation marks
  bool valueless = false;  // findattribute found the name without a value
  bool foldcase = false;   // compare names without regard to ASCII letter case
  std::u16string errors;   // result log records of broken markup, until the parser takes them
};

// Scans the node at the scanner's position and moves past it. Start tags, end
// tags and processing instructions leave their name as the token.
int nextnode(nodescanner& scanner, noderesult& node);

// The next word token: white space separates tokens, and each of
// ! " ' / ; < = > ? \ is a token of its own. False at the end of the text.
bool nexttoken(nodescanner& scanner);

// The token is `literal`, or `literal` is longer and continues with a space,
// "/", "=", "[" or "]" right after the token.
bool tokenequals(const nodescanner& scanner, std::u16string_view literal);

// Looks for attribute `name` in the tag whose name starts at the scanner's
// position (just after "<", or after "<?"). Found: the token is the value
// without its quotation marks, `quoted` tells whether it had them, and the
// position is just after it; a name without value is found with `valueless`
// set, its token being the name. Not found: the position is where the
// attribute list ends, before the white space that precedes "/", ">" or "?".
bool findattribute(nodescanner& scanner, std::u16string_view name, std::u16string* value = nullptr);

inline bool iswhitespace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; }

}  // namespace kelvane
