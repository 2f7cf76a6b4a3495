#include "package/setupentries.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/text.h"

namespace kelvane {
namespace {

struct admitted {
  const char* name;
  int method;
  entryverdict verdict;
};

// One archive's entries in order: each verdict depends on the entries before it.
TEST(SetupEntries, DecidesEachEntryBeforeAnythingIsWritten) {
  const admitted archive[] = {
      {"setup\\qSetup.exe", 8, entryverdict::write},
      {"setup\\config.xml", 0, entryverdict::write},
      {"setup\\data\\nested\\blob.bin", 8, entryverdict::write},
      {"setup\\data\\", 0, entryverdict::write},              // a folder met before: fine
      {"setup\\", 0, entryverdict::write},                    // the setup folder itself
      // outside the setup folder
      {"evil.dll", 8, entryverdict::outside},
      {"Low\\x.dll", 8, entryverdict::outside},
      {"Setup\\x.dll", 8, entryverdict::outside},             // another folder on a case-sensitive disk
      {"setup/x.dll", 8, entryverdict::outside},
      {"SETUP~1\\x.dll", 8, entryverdict::outside},
      {"setupx\\x.dll", 8, entryverdict::outside},
      {"setup", 8, entryverdict::outside},
      {"setup\\..\\evil.dll", 8, entryverdict::hostile},
      {"..\\evil.dll", 8, entryverdict::hostile},
      // methods other than stored and deflated
      {"setup\\bzip2.bin", 12, entryverdict::method},
      {"setup\\lzma.bin", 14, entryverdict::method},
      {"setup\\implode.bin", 6, entryverdict::method},
      // the same file as an earlier entry, on Windows
      {"setup\\qSetup.exe", 8, entryverdict::samefile},
      {"setup\\QSETUP.EXE", 8, entryverdict::samefile},
      {"setup\\qsetup.exe.", 8, entryverdict::samefile},
      {"setup\\qSetup.exe . .", 8, entryverdict::samefile},
      {"setup\\DATA\\Nested\\BLOB.BIN", 8, entryverdict::samefile},
      {"setup\\data.\\nested\\blob.bin", 8, entryverdict::samefile},
      {"setup\\config.xml\\inner.txt", 8, entryverdict::samefile},  // a file met before, used as a folder
      {"setup\\Data", 8, entryverdict::samefile},                   // a folder met before, written as a file
      {"setup\\\u00c9t\u00e9.txt", 8, entryverdict::write},
      {"setup\\\u00e9t\u00e9.txt", 8, entryverdict::samefile},
      // short names
      {"setup\\QSETUP~1.EXE", 8, entryverdict::shortname},
      {"setup\\PROGRA~2\\a.dll", 8, entryverdict::shortname},
      {"setup\\data\\AB12~1", 0, entryverdict::shortname},
      {"setup\\a~1.txt ", 8, entryverdict::shortname},
      // names with a tilde that no short name can have
      {"setup\\backup~1-of-the-long-name.txt", 8, entryverdict::write},
      {"setup\\a~b.txt", 8, entryverdict::write},
      {"setup\\a~1.html", 8, entryverdict::write},
      {"setup\\a~1.b.c", 8, entryverdict::write},
      {"setup\\~\\x.txt", 8, entryverdict::write},
      // new names still pass after refusals
      {"setup\\data\\nested\\other.bin", 8, entryverdict::write},
      {"setup\\new\\", 0, entryverdict::write},
      {"setup\\new\\file.txt", 0, entryverdict::write},
  };
  setupentries entries;
  for (const auto& e : archive) {
    std::string stored;  // names are stored in the ANSI code page
    ASSERT_TRUE(narrowtoacp(e.name, stored)) << e.name;
    EXPECT_EQ(entries.admit(stored, e.method), e.verdict) << e.name;
  }
}

TEST(SetupEntries, ShortNameShape) {
  const std::pair<const char*, bool> cases[] = {
      {"SETUP~1", true},       {"QSETUP~1.EXE", true}, {"ABCDE~12", true}, {"A~9.TX", true},
      {"QS1A2B~1.EXE", true},  {"SETUP~1.", true},     {"~1", true},
      {"SETUP~", false},       {"SETUP~X", false},     {"ABCDEFGH~1", false}, {"A~1.HTML", false},
      {"A.B~1", false},        {"SETUP", false},       {"", false},
  };
  for (const auto& [level, shaped] : cases) EXPECT_EQ(isshortname(level), shaped) << level;
}

}  // namespace
}  // namespace kelvane
