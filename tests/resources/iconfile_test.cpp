// Reading icon files and planning the icon image resources, on the real file
// functions; ReplaceExeIcon's refusals, which leave the executable alone.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/text.h"
#include "resources/icon.h"
#include "resources/iconfile.h"
#include "tests/support/scratch.h"

namespace kelvane {
namespace {

std::string le16(unsigned v) { return {char(v), char(v >> 8)}; }
std::string le32(std::uint32_t v) { return le16(v & 0xFFFF) + le16(v >> 16); }

struct rawentry {
  std::uint32_t bytesinres;
  std::uint32_t imageoffset;
  unsigned char width = 16;
};

std::string header(unsigned count, unsigned type = 1) { return le16(0) + le16(type) + le16(count); }

std::string direntry(const rawentry& e) {
  return std::string{char(e.width), char(e.width), 0, 0} + le16(1) + le16(32) + le32(e.bytesinres) +
         le32(e.imageoffset);
}

// A well-formed icon file: image i holds `sizes[i]` bytes of the letter 'a' + i.
std::string iconwith(const std::vector<std::uint32_t>& sizes, unsigned type = 1) {
  std::string dir = header(unsigned(sizes.size()), type), data;
  std::uint32_t offset = std::uint32_t(6 + 16 * sizes.size());
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    dir += direntry({sizes[i], offset, (unsigned char)(16 + i)});
    data += std::string(sizes[i], char('a' + i % 26));
    offset += sizes[i];
  }
  return dir + data;
}

std::string image(const iconfile& icon, std::size_t i) {
  return std::string(icon.images[i].begin(), icon.images[i].end());
}

class iconfiles : public ::testing::Test {
 protected:
  // Loads the bytes as an icon file from disk.
  bool load(const std::string& bytes, iconfile& plan, std::string& error) {
    std::FILE* f = fs::openfile(scratch.write("test.ico", bytes), "rb");
    EXPECT_NE(f, nullptr);
    if (!f) return false;
    bool ok = loadiconfile(f, plan, error);
    std::fclose(f);
    return ok;
  }
  testing::scratchfolder scratch;
};

TEST_F(iconfiles, ReadsEachImageByItsEntry) {
  // Images stored out of order and apart from each other: each entry's own
  // offset and size decide, not the file order of the data.
  std::string bytes = header(2) + direntry({3, 50, 32}) + direntry({4, 40, 48});
  bytes.resize(40, '-');
  bytes += "BBBB" + std::string(6, '-') + "AAA";
  iconfile plan;
  std::string error;
  ASSERT_TRUE(load(bytes, plan, error)) << error;
  ASSERT_EQ(plan.entries.size(), 2u);
  EXPECT_EQ(plan.entries[0].width, 32);
  EXPECT_EQ(plan.entries[0].planes, 1);
  EXPECT_EQ(plan.entries[0].bitcount, 32);
  EXPECT_EQ(plan.entries[1].imageoffset, 40u);
  EXPECT_EQ(image(plan, 0), "AAA");
  EXPECT_EQ(image(plan, 1), "BBBB");
}

TEST_F(iconfiles, TakesACursorFileAsAnIcon) {
  iconfile plan;
  std::string error;
  ASSERT_TRUE(load(iconwith({5}, /*type=*/2), plan, error)) << error;
  EXPECT_EQ(image(plan, 0), "aaaaa");
}

// The group directory lists exactly the icon's images, as its directory
// declares them and in its order, each under the lowest free identifier.
TEST(iconplanning, GroupDirectoryDescribesExactlyTheImages) {
  iconfile icon;
  icon.entries = {{0, 0, 0, 0, 1, 32, 70000, 0}, {16, 16, 16, 0, 1, 4, 296, 0}, {48, 32, 0, 7, 0, 0, 3000, 0}};
  icon.images.resize(3);
  struct row {
    std::set<std::uint16_t> taken;
    std::vector<std::uint16_t> ids;
  } rows[] = {{{}, {1, 2, 3}}, {{1, 3}, {2, 4, 5}}, {{2, 50, 51, 52}, {1, 3, 4}}};
  for (const row& r : rows) {
    iconplan plan;
    std::string error;
    ASSERT_TRUE(planicon(icon, r.taken, plan, error)) << error;
    EXPECT_EQ(plan.ids, r.ids);
    std::string expected = le16(0) + le16(1) + le16(3);
    for (std::size_t i = 0; i < 3; ++i) {
      const iconentry& e = icon.entries[i];
      expected += std::string{char(e.width), char(e.height), char(e.colorcount), char(e.reserved)} + le16(e.planes) +
                  le16(e.bitcount) + le32(e.bytesinres) + le16(r.ids[i]);
    }
    EXPECT_EQ(std::string(plan.group.begin(), plan.group.end()), expected);
    EXPECT_EQ(icongroupids(plan.group), r.ids);
  }
}

TEST(iconplanning, RefusedWhenNoIdentifierIsFree) {
  iconfile icon;
  icon.entries.resize(2);
  icon.images.resize(2);
  std::set<std::uint16_t> taken;
  for (std::uint32_t id = 1; id <= 0xFFFF; ++id)
    if (id != 700) taken.insert(std::uint16_t(id));
  iconplan plan;
  std::string error;
  EXPECT_FALSE(planicon(icon, taken, plan, error));
  EXPECT_EQ(error, "the executable has no free icon identifiers left");
  EXPECT_TRUE(plan.ids.empty());
  EXPECT_TRUE(icongroupids({0, 0, 1, 0, 5, 0}).empty());  // five entries declared, none stored
}

TEST_F(iconfiles, RefusesMalformedFiles) {
  std::string good = iconwith({8, 8});  // directory of 38 bytes, then two 8-byte images
  struct row {
    const char* what;
    std::string bytes;
    std::string error;
  } rows[] = {
      {"empty file", "", "the icon file holds no images"},
      {"short header", header(1).substr(0, 5), "the icon file holds no images"},
      {"idCount 0", header(0) + std::string(40, 'x'), "the icon file holds no images"},
      {"idCount the file cannot hold", header(4) + good.substr(6), "the icon file is too short for its 4 entries"},
      {"idCount 65535", header(65535) + good.substr(6), "the icon file is too short for its 65535 entries"},
      {"image past the end", header(1) + direntry({8, 21}) + std::string(6, 'x'),
       "image 1 lies beyond the end of the icon file"},
      {"dwBytesInRes larger than the file", header(2) + direntry({8, 38}) + direntry({0xFFFFFFF0u, 0}) +
       std::string(16, 'x'), "image 2 lies beyond the end of the icon file"},
      {"offset past the end", header(1) + direntry({1, 0xFFFFFFFFu}) + "x", "image 1 lies beyond the end of the icon file"},
      {"empty image", header(1) + direntry({0, 22}), "image 1 is empty"},
  };
  for (const row& r : rows) {
    iconfile plan;
    std::string error;
    EXPECT_FALSE(load(r.bytes, plan, error)) << r.what;
    EXPECT_EQ(error, r.error) << r.what;
    EXPECT_TRUE(plan.images.empty()) << r.what;
  }
}

// Entries may share bytes in a crafted file: what they would put into an
// executable counts, not the file's size.
TEST(iconfilebounds, ImagesTogetherStayWithinTheBound) {
  std::uint32_t each = 33u << 20;  // two uses pass 64 MiB, one does not
  for (unsigned count : {1u, 2u}) {
    std::string bytes = header(count);
    for (unsigned i = 0; i < count; ++i) bytes += direntry({each, 0});
    bytes.resize(each, 'x');
    iconfile icon;
    std::string error;
    bool ok = parseiconfile(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), icon, error);
    EXPECT_EQ(ok, count == 1) << count;
    if (!ok) {
      EXPECT_EQ(error, "the icon file's images are too large");
    }
  }
}

// ReplaceExeIcon on refusals: the message and an executable left as it was.
// The target is a stand-in file; whether a real executable gets its icon is
// checked with a PE reader on the real stub (test_icon.py).
class replacement : public iconfiles {
 protected:
  std::string replace(const std::string& iconpath, bool& result) {
    ::testing::internal::CaptureStdout();
    result = ReplaceExeIcon(towide(iconpath), towide(exe));
    return ::testing::internal::GetCapturedStdout();
  }
  const std::string original = "MZ not really a program";
  std::string exe = scratch.write("target.exe", original);
};

TEST_F(replacement, MissingIconFileSaysSoAndTouchesNothing) {
  bool result = true;
  std::string out = replace(scratch.file("no-such.ico"), result);
  EXPECT_FALSE(result);
  EXPECT_EQ(out, "Open IconFile Failed!\n");
  EXPECT_EQ(testing::readbytes(exe), original);
}

TEST_F(replacement, MalformedIconFileSaysWhyAndTouchesNothing) {
  bool result = true;
  std::string out = replace(scratch.write("bad.ico", header(4) + direntry({1, 0})), result);
  EXPECT_FALSE(result);
  EXPECT_EQ(out, "Bad IconFile: the icon file is too short for its 4 entries\n");
  EXPECT_EQ(testing::readbytes(exe), original);
}

TEST_F(replacement, TrueOnlyWhenCommitted) {
  // A sound icon file but a target with no resources to update: not committed.
  bool result = true;
  std::string out = replace(scratch.write("good.ico", iconwith({40})), result);
  EXPECT_FALSE(result);
  EXPECT_EQ(out.rfind("Replace ExeIcon Failed: ", 0), 0u) << out;
  EXPECT_EQ(testing::readbytes(exe), original);
}

}  // namespace
}  // namespace kelvane
