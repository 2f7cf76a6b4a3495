#include "platform/commandline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/text.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

namespace kelvane {
namespace {

// The parser of the C runtime and CommandLineToArgvW for the arguments after
// argv[0]: 2n backslashes before a quote give n and the quote toggles
// quoting, 2n + 1 give n and a literal quote; other backslashes are literal.
std::vector<std::u16string> parsearguments(std::u16string_view line) {
  std::vector<std::u16string> args;
  std::size_t i = 0, n = line.size();
  while (true) {
    while (i < n && (line[i] == u' ' || line[i] == u'\t')) ++i;
    if (i >= n) return args;
    std::u16string arg;
    bool quoted = false;
    while (i < n) {
      char16_t c = line[i];
      if (c == u'\\') {
        std::size_t backslashes = 0;
        while (i < n && line[i] == u'\\') ++backslashes, ++i;
        if (i < n && line[i] == u'"') {
          arg.append(backslashes / 2, u'\\');
          if (backslashes % 2) arg += u'"', ++i;  // an escaped quote
        } else {
          arg.append(backslashes, u'\\');
        }
      } else if (c == u'"') {
        quoted = !quoted, ++i;
      } else if (!quoted && (c == u' ' || c == u'\t')) {
        break;
      } else {
        arg += c, ++i;
      }
    }
    args.push_back(arg);
  }
}

const std::vector<std::u16string> hard = {
    u"plain",
    u"",
    u"with space",
    u"C:\\Program Files\\",           // trailing backslash before the closing quote
    u"C:\\dir\\\\",
    u"say \"hi\"",
    u"back\\\"slash quote",
    u"\\\\server\\share\\a b",
    u"tab\there",
    u"\"",
    u"\\",
    u"\u4e2d\u6587 \u00e9",
};

TEST(CommandLine, EveryArgumentReadsBackAsItself) {
  EXPECT_EQ(quoteargument(u"plain"), u"plain");
  EXPECT_EQ(quoteargument(u"a b"), u"\"a b\"");
  EXPECT_EQ(quoteargument(u"C:\\x y\\"), u"\"C:\\x y\\\\\"");
  EXPECT_EQ(quoteargument(u""), u"\"\"");
  EXPECT_EQ(parsearguments(argumentline(hard)), hard);
  for (const auto& a : hard) EXPECT_EQ(parsearguments(quoteargument(a)), std::vector<std::u16string>{a}) << tonarrow(a);
}

// A setup program in a temporary folder whose name holds spaces sees its
// path as one argument, argv[0], and nothing after it.
TEST(CommandLine, ProgramPathIsOneQuotedArgument) {
  std::u16string program = u"C:\\Users\\Ana Maria\\AppData\\Local\\Temp\\setup\\qSetup.exe";
  EXPECT_EQ(commandline(program), u"\"" + program + u"\"");
  EXPECT_EQ(commandline(u"C:\\a b\\p.exe", {u"x y", u"C:\\t\\"}), u"\"C:\\a b\\p.exe\" \"x y\" C:\\t\\");
#ifdef _WIN32
  auto read = [](const std::u16string& line) {
    int n = 0;
    wchar_t** argv = CommandLineToArgvW(reinterpret_cast<const wchar_t*>(line.c_str()), &n);
    std::vector<std::u16string> args;
    for (int i = 0; i < n; ++i) args.emplace_back(reinterpret_cast<const char16_t*>(argv[i]));
    LocalFree(argv);
    return args;
  };
  EXPECT_EQ(read(commandline(program)), std::vector<std::u16string>{program});
  std::vector<std::u16string> all{program};
  all.insert(all.end(), hard.begin() + 1, hard.end());  // CommandLineToArgvW's own argv[0] rule first
  EXPECT_EQ(read(commandline(program, {hard.begin() + 1, hard.end()})), all);
#endif
}

}  // namespace
}  // namespace kelvane
