// Command lines for programs that read them with the Windows rules
// (CommandLineToArgvW and the C runtime's argument parser): arguments
// separated by spaces, an argument with a space, a tab or a quote enclosed in
// quotes, a quote inside written as \" and the backslashes before a quote
// doubled. Portable, so the rules are tested natively.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kelvane {

// One argument, quoted when it needs it; any text reads back as itself.
std::u16string quoteargument(std::u16string_view argument);

// The arguments quoted and joined by single spaces: the parameters of a
// shell start, which puts the program's path before them itself.
std::u16string argumentline(const std::vector<std::u16string>& arguments);

// A program's command line: its path, then the arguments, joined by single
// spaces. The path is always quoted and never escaped: Windows reads argv[0]
// from an opening quote up to the next one, backslashes and all, and a path
// cannot hold a quote.
std::u16string commandline(std::u16string_view program, const std::vector<std::u16string>& arguments = {});

}  // namespace kelvane
