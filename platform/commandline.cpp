#include "platform/commandline.h"

namespace kelvane {

std::u16string quoteargument(std::u16string_view argument) {
  if (!argument.empty() && argument.find_first_of(u" \t\n\v\"") == std::u16string_view::npos)
    return std::u16string(argument);
  std::u16string quoted = u"\"";
  std::size_t backslashes = 0;
  for (char16_t c : argument) {
    if (c == u'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes count only before a quote: there each is doubled, and the
    // quote itself escaped.
    quoted.append(c == u'"' ? backslashes * 2 + 1 : backslashes, u'\\');
    backslashes = 0;
    quoted += c;
  }
  // The closing quote follows: trailing backslashes are doubled too.
  quoted.append(backslashes * 2, u'\\');
  quoted += u'"';
  return quoted;
}

std::u16string argumentline(const std::vector<std::u16string>& arguments) {
  std::u16string line;
  for (const auto& argument : arguments) {
    if (!line.empty()) line += u' ';
    line += quoteargument(argument);
  }
  return line;
}

std::u16string commandline(std::u16string_view program, const std::vector<std::u16string>& arguments) {
  std::u16string line = u"\"" + std::u16string(program) + u"\"";
  if (!arguments.empty()) line += u' ' + argumentline(arguments);
  return line;
}

}  // namespace kelvane
