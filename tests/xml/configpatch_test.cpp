#include "loader/configpatch.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/support/scratch.h"
#include "platform/text.h"

namespace kelvane {
namespace {

using testing::readbytes;
using testing::scratchfolder;

// An ASCII text as UTF-16 little-endian with its byte-order mark.
std::string utf16le(const std::string& ascii) {
  std::string bytes = "\xFF\xFE";
  for (char c : ascii) bytes += {c, '\0'};
  return bytes;
}

bool exists(const std::string& path) {
  std::FILE* f = fs::openfile(path, "rb");
  if (f) std::fclose(f);
  return f != nullptr;
}

TEST(PatchConfig, PointsSourceChildrenOfTheRootAtThePackage) {
  const struct {
    const char* what;
    std::string before;
    std::string package;
    std::string after;
  } cases[] = {
      {"shipped form",
       "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<config>\r\n  <source path=\"old\" />\r\n  <app name='x'/>\r\n</config>\r\n",
       "C:\\Downloads\\install_test.exe",
       "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<config>\r\n  <source path=\"C:\\Downloads\\install_test.exe\" />\r\n"
       "  <app name='x'/>\r\n</config>\r\n"},
      {"two source children", "<c><source path='1'/><x/><source/></c>", "p",
       "<c><source path=\"p\"/><x/><source path=\"p\"/></c>"},
      {"no source child", "<config>\n  <app/>\n</config>\n", "p",
       "<config>\n  <source path=\"p\"/>\r\n<app/>\n</config>\n"},
      {"source only deeper down", "<c><app><source path='x'/></app></c>", "p",
       "<c><source path=\"p\"/>\r\n<app><source path='x'/></app></c>"},
      {"relative path kept as given", "<c><source/></c>", "install_test.exe",
       "<c><source path=\"install_test.exe\"/></c>"},
      {"characters special in values", "<c><source/></c>", "D:\\a&b\\\"q\"<x>.exe",
       "<c><source path=\"D:\\a&amp;b\\&quot;q&quot;&lt;x&gt;.exe\"/></c>"},
      {"non-ASCII path in a UTF-8 file with mark", "\xEF\xBB\xBF<c><source/></c>", "C:\\\xE4\xB8\xAD\\p.exe",
       "\xEF\xBB\xBF<c><source path=\"C:\\\xE4\xB8\xAD\\p.exe\"/></c>"},
      {"UTF-16 file stays UTF-16", utf16le("<c/>"), "p",
       utf16le("<c>\r\n<source path=\"p\"/>\r\n</c>")},
  };
  scratchfolder scratch;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string path = scratch.write("config.xml", c.before);
    EXPECT_TRUE(patchconfig(towide(path), towide(c.package)));
    EXPECT_EQ(readbytes(path), c.after);
  }
}

// Nothing readable, nothing to patch: the file is neither created nor
// truncated.
TEST(PatchConfig, LeavesUnreadableOrRootlessFilesAlone) {
  scratchfolder scratch;
  std::string missing = scratch.file("config.xml");
  EXPECT_FALSE(patchconfig(towide(missing), u"p"));
  EXPECT_FALSE(exists(missing));

  for (const std::string& bytes : {std::string(), std::string("just text"), std::string("\xEF\xBB\xBF")}) {
    std::string path = scratch.write("config.xml", bytes);
    EXPECT_FALSE(patchconfig(towide(path), u"p"));
    EXPECT_EQ(readbytes(path), bytes);
  }
}

}  // namespace
}  // namespace kelvane
