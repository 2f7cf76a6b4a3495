// The result log: a short XML text of records about the last load, parse or
// save of a document, laid end to end with no separator, each an empty element
// such as <read encoding="UTF-8" length="42"/>. Nothing reads it back; it is
// there for diagnosis.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kelvane {

// Flags of addrecord: which attribute the text and the first number fill.
enum : unsigned {
  LOG_COUNT = 0x1,     // number a is `count`
  LOG_TYPE = 0x2,      // text is `type`
  LOG_N = 0x4,         // number a is `n`
  LOG_ENCODING = 0x8,  // text is `encoding`
  LOG_LENGTH = 0x10,   // number a is `length`
  LOG_UPDATE = 0x20,   // change the first record of that name instead of adding one
  LOG_MSG = 0x40,      // text is `msg`
};

constexpr std::int64_t LOG_NONE = -1;

// Adds or updates one record. The text (when not null) becomes `type`,
// `encoding`, `msg` or, without those flags, `tagname`; number a becomes `n`,
// `count`, `length` or, without those flags and when not LOG_NONE, `offset`;
// number b becomes `offset2` unless it is LOG_NONE. Once the log holds 1000
// characters further records are dropped.
void addrecord(std::u16string& log, std::u16string_view name, const std::u16string_view* text, unsigned flags,
               std::int64_t a = LOG_NONE, std::int64_t b = LOG_NONE);

// Same without text.
inline void addrecord(std::u16string& log, std::u16string_view name, unsigned flags = 0, std::int64_t a = LOG_NONE,
                      std::int64_t b = LOG_NONE) {
  addrecord(log, name, nullptr, flags, a, b);
}

inline void addrecord(std::u16string& log, std::u16string_view name, std::u16string_view text, unsigned flags,
                      std::int64_t a = LOG_NONE, std::int64_t b = LOG_NONE) {
  addrecord(log, name, &text, flags, a, b);
}

// Escapes & < > " and ' for an attribute value.
std::u16string escapeattribute(std::u16string_view value);

}  // namespace kelvane
