#include "package/treecheck.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/text.h"
#include "tests/package/packagefixture.h"

namespace kelvane {
namespace {

using namespace kelvane::testing;

TEST(WindowsNames, OnlyNamesWindowsCanHoldPass) {
  struct { const char* name; bool held; } cases[] = {
      {"setup.exe", true},       {"café Über.txt", true},  {".hidden", true},       {"CONSOLE.txt", true},
      {"COM10", true},           {"LPT", true},            {"nul-free.txt", true},  {"a.b.c", true},
      {"CON", false},            {"con", false},           {"aux.txt", false},      {"NUL.tar.gz", false},
      {"COM1", false},           {"lpt9.log", false},      {"COM\xC2\xB9", false},  {"PRN .txt", false},
      {"a<b", false},            {"a>b", false},           {"a:b", false},          {"a\"b", false},
      {"a\\b", false},           {"a|b", false},           {"a?b", false},          {"a*b", false},
      {"tab\there", false},      {"\x1f", false},          {"trailing.", false},    {"trailing ", false},
  };
  for (const auto& c : cases) EXPECT_EQ(windowsnamefault(c.name).empty(), c.held) << c.name;
}

TEST(WindowsNames, CaseFoldsAsWindowsCompares) {
  EXPECT_EQ(foldedcase("readme.TXT"), "README.TXT");
  EXPECT_EQ(foldedcase("\xC3\xA9t\xC3\xA9"), "\xC3\x89T\xC3\x89");        // été
  EXPECT_EQ(foldedcase("\xC5\x82\xC3\xB3" "d\xC5\xBA"), "\xC5\x81\xC3\x93" "D\xC5\xB9");  // łódź
  EXPECT_EQ(foldedcase("\xD0\xB4\xD0\xB0"), "\xD0\x94\xD0\x90");          // да
  EXPECT_EQ(foldedcase("stra\xC3\x9F" "e"), "STRA\xC3\x9F" "E");          // ß has no one-letter capital
}

std::string utf8(char32_t c) {
  std::u16string wide;
  if (c >= 0x10000) wide = {char16_t(0xD800 + ((c - 0x10000) >> 10)), char16_t(0xDC00 + ((c - 0x10000) & 0x3FF))};
  else wide = {char16_t(c)};
  return tonarrow(wide);
}

// Entry names in code page 1252 are exactly Windows' bytes on every host:
// each character of Windows' table (0x81, 0x8D, 0x8F, 0x90 and 0x9D hold the
// C1 controls of their value) as its byte, everything else refused, including
// what Windows would store as a similar character ("best fit") or "?".
TEST(ArchiveNames, CodePage1252IsWindowsTableExactly) {
  const char16_t upper[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
                              0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
                              0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  std::map<char32_t, unsigned char> table;
  for (unsigned b = 1; b < 256; ++b) table[b >= 0x80 && b < 0xA0 ? char32_t(upper[b - 0x80]) : char32_t(b)] = static_cast<unsigned char>(b);
  int mismatches = 0;
  for (char32_t c = 1; c < 0x10000 + 16 && mismatches < 10; ++c) {
    if (c >= 0xD800 && c < 0xE000) continue;
    std::string stored;
    bool held = narrowtocodepage(utf8(c), 1252, stored);
    auto it = table.find(c);
    bool expected = it != table.end();
    if (held != expected || (held && stored != std::string(1, static_cast<char>(it->second)))) {
      ++mismatches;
      ADD_FAILURE() << "U+" << std::hex << static_cast<unsigned>(c) << (held ? " stored" : " refused");
    }
  }
  std::string stored;
  EXPECT_FALSE(narrowtocodepage("a\xff", 1252, stored));  // not UTF-8
  EXPECT_TRUE(narrowtocodepage("", 1252, stored) && stored.empty());
}

#ifndef _WIN32
// A POSIX file system holds them all; the check names each one, and the
// builder writes nothing.
TEST(TreeCheck, NamesEveryNameWindowsCannotHold) {
  scratchfolder scratch;
  maketree(scratch.path(), {{"app\\Readme.txt", "1"}, {"app\\README.txt", "2"}, {"app\\ok.txt", "3"},
                            {"app\\sub\\aux.txt", "4"}, {"setup\\what?.txt", "5"}, {"setup\\dot.", "6"},
                            {"setup\\\xC4\x80.txt", "7"}, {"setup\\\xff.txt", "8"}, {"setup\\deep\\caf\xC3\xA9.txt", "9"}});
  insidefolder in(scratch.path());
  treereport report;
  checktree("app", 1252, report);
  checktree("setup", 1252, report);
  EXPECT_EQ(report.files, 9u);
  EXPECT_EQ(report.bytes, 9u);
  std::vector<std::string> refused;
  for (const auto& r : report.refused) refused.push_back(r.substr(0, r.find(": ")));
  std::vector<std::string> expected = {"app\\Readme.txt", "app\\sub\\aux.txt", "setup\\dot.", "setup\\what?.txt",
                                       "setup\\\xC4\x80.txt", "setup\\\xff.txt"};
  EXPECT_EQ(refused, expected);
}
#endif

}  // namespace
}  // namespace kelvane
