// The platform's converter between code pages and UTF-16, by code page number,
// with the two properties the text file layer relies on:
//  - a result of 0 units means that nothing was converted (an unknown or
//    unsupported code page, an output that does not fit, or empty input);
//  - wide-to-multibyte reports, when asked, that it put its default character
//    in place of one the code page cannot hold.
// A capacity of 0 only counts. Invalid byte sequences are replaced, never
// reported. Code page 0 is the narrow code page of the system: the ANSI code
// page on Windows, UTF-8 elsewhere. UTF-16 and UTF-32 code pages (1200, 1201,
// 12000, 12001) are not converted here, on any platform.
#pragma once

namespace kelvane::codepage {

// The system's ANSI code page: GetACP() on Windows, UTF-8 (65001) elsewhere.
unsigned ansicodepage();

int multibytetowide(unsigned codepage, const char* source, int sourcebytes, char16_t* output, int capacity);

// `lost` may be null: then no loss is reported.
int widetomultibyte(unsigned codepage, const char16_t* source, int sourceunits, char* output, int capacity,
                    bool* lost);

}  // namespace kelvane::codepage
