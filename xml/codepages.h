// Encoding names: the code page that an encoding name stands for.
#pragma once

#include <string_view>

namespace kelvane {

// Code pages with a meaning of their own.
constexpr int CP_NARROW = 0;    // the system's narrow code page (ANSI on Windows, UTF-8 elsewhere)
constexpr int CP_UTF16 = 1200;  // UTF-16 little-endian, the in-memory form of documents
constexpr int CP_UTF8 = 65001;
constexpr int CP_UTF32 = 65005;  // UTF-32 in 32-bit units of machine order, converted by the text layer

// 0 for an empty name; CP_UTF32 for a name that begins with "UTF-32", in
// upper case exactly; the code page of a name in the built-in table, whatever
// the case of its ASCII letters; -1 for any other name.
int codepageof(std::u16string_view name);

}  // namespace kelvane
