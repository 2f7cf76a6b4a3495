#include "xml/resultlog.h"

namespace kelvane {

namespace {

constexpr std::size_t kLogLimit = 1000;

std::u16string number(std::int64_t value) {
  std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

// A record of the log: "<name ...attributes/>" from `start` to `end` (after "/>").
struct span {
  std::size_t start, end;
};

// The first record named `name`, or none. Attribute values are escaped, so
// every "<" of the log starts a record and every "/>" ends one.
bool findrecord(const std::u16string& log, std::u16string_view name, span& found) {
  for (std::size_t at = log.find(u'<'); at != std::u16string::npos; at = log.find(u'<', at + 1)) {
    std::size_t end = log.find(u"/>", at);
    if (end == std::u16string::npos) return false;
    std::u16string_view record(log.data() + at + 1, end - at - 1);
    if (record.substr(0, name.size()) == name &&
        (record.size() == name.size() || record[name.size()] == u' ')) {
      found = {at, end + 2};
      return true;
    }
  }
  return false;
}

// Sets attribute `attribute` of the record, replacing its value or adding it
// before the "/>".
void setattribute(std::u16string& log, span& record, std::u16string_view attribute, std::u16string_view value) {
  std::u16string quoted = u"\"" + escapeattribute(value) + u"\"";
  std::u16string key = u" " + std::u16string(attribute) + u"=\"";
  std::u16string_view text(log.data() + record.start, record.end - record.start);
  std::size_t at = text.find(key);
  if (at != std::u16string_view::npos) {
    std::size_t valuestart = record.start + at + key.size() - 1;
    std::size_t valueend = log.find(u'"', valuestart + 1) + 1;
    log.replace(valuestart, valueend - valuestart, quoted);
    record.end += quoted.size() - (valueend - valuestart);
  } else {
    std::u16string added = key.substr(0, key.size() - 1) + quoted;
    log.insert(record.end - 2, added);
    record.end += added.size();
  }
}

}  // namespace

std::u16string escapeattribute(std::u16string_view value) {
  std::u16string out;
  out.reserve(value.size() + value.size() / 10 + 7);
  for (char16_t c : value) {
    switch (c) {
      case u'&': out += u"&amp;"; break;
      case u'<': out += u"&lt;"; break;
      case u'>': out += u"&gt;"; break;
      case u'"': out += u"&quot;"; break;
      case u'\'': out += u"&apos;"; break;
      default: out += c;
    }
  }
  return out;
}

void addrecord(std::u16string& log, std::u16string_view name, const std::u16string_view* text, unsigned flags,
               std::int64_t a, std::int64_t b) {
  if (log.size() >= kLogLimit) return;
  span record{};
  if (flags & LOG_UPDATE) {
    if (!findrecord(log, name, record)) return;
  } else {
    record.start = log.size();
    log += u"<" + std::u16string(name) + u"/>";
    record.end = log.size();
  }
  if (text) {
    const char16_t* attribute = flags & LOG_TYPE       ? u"type"
                                : flags & LOG_ENCODING ? u"encoding"
                                : flags & LOG_MSG      ? u"msg"
                                                       : u"tagname";
    setattribute(log, record, attribute, *text);
  }
  const char16_t* numbered = flags & LOG_N        ? u"n"
                             : flags & LOG_COUNT  ? u"count"
                             : flags & LOG_LENGTH ? u"length"
                             : a != LOG_NONE      ? u"offset"
                                                  : nullptr;
  if (numbered) setattribute(log, record, numbered, number(a));
  if (b != LOG_NONE) setattribute(log, record, u"offset2", number(b));
}

}  // namespace kelvane
