// Text conversions at the seams with the operating system.
//
// Narrow text is UTF-8 everywhere inside the program: paths, arguments and
// `ownpath` keep every character, whatever the system's ANSI code page holds.
// Wide text is UTF-16 (char16_t; the same units as Windows' wchar_t). The ANSI
// code page appears only where a stored format uses it (archive entry names).
#pragma once

#include <string>
#include <string_view>

namespace kelvane {

std::u16string towide(std::string_view narrow);
std::string tonarrow(std::u16string_view wide);

// Zero-terminated copy allocated with malloc; the caller releases it with free.
// Never null: a failed conversion gives a buffer holding only the terminator.
char16_t* towidebuffer(std::string_view narrow);

// The system ANSI code page (UTF-8 on POSIX). Both refuse, returning false,
// text that does not convert exactly: a character the code page cannot hold,
// or bytes that are not valid in it.
bool acptowide(std::string_view acp, std::u16string& wide);
bool widetoacp(std::u16string_view wide, std::string& acp);

// UTF-8 <-> ANSI code page through UTF-16, with the same strictness.
bool narrowtoacp(std::string_view narrow, std::string& acp);
bool acptonarrow(std::string_view acp, std::string& narrow);

// Folds a name the way Windows compares file names: letters to upper case,
// '/' to '\\'. Covers the Latin, Greek and Cyrillic letters and the
// full-width Latin ones; other characters stay as they are (Windows' own
// table folds more). Used for the workspace lock's name and to tell which
// archive entries name the same file.
std::u16string foldname(std::u16string_view name);

// UTF-8 to the code page `codepage` (0: the system's ANSI code page), as
// archive entry names are stored. Exact: false for text that is not valid
// UTF-8 and for any character without a byte sequence of its own in the code
// page, that is whatever does not convert back to itself. Windows' converter
// would otherwise store a similar character in its place ("best fit":
// U+0100 as "A", a fullwidth backslash as a backslash) or "?", and the
// file would be extracted under another name than it had.
bool narrowtocodepage(std::string_view narrow, unsigned codepage, std::string& out);

}  // namespace kelvane
