// Reading icon files and planning the icon image resources, on the real file
// functions; ReplaceExeIcon's refusals, which leave the executable alone.
#include <gtest/gtest.h>

#include <cstdio>
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

std::string image(const iconplan& plan, std::size_t i) {
  return std::string(plan.images[i].begin(), plan.images[i].end());
}

class iconfiles : public ::testing::Test {
 protected:
  // Loads the bytes as an icon file from disk.
  bool load(const std::string& bytes, iconplan& plan, std::string& error) {
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
  iconplan plan;
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
  iconplan plan;
  std::string error;
  ASSERT_TRUE(load(iconwith({5}, /*type=*/2), plan, error)) << error;
  EXPECT_EQ(image(plan, 0), "aaaaa");
}

// Which image every identifier holds, for n images: 1..n in order, then
// |10 - n| copies of the last.
TEST(iconplanning, FillsTenIdentifiersAndCopiesTheLastImage) {
  struct row {
    std::size_t count;
    std::vector<std::size_t> images;  // images[k] is the image of identifier k + 1
  } rows[] = {
      {1, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {3, {0, 1, 2, 2, 2, 2, 2, 2, 2, 2}},
      {9, {0, 1, 2, 3, 4, 5, 6, 7, 8, 8}},
      {10, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
      {11, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 10}},
      {12, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 11, 11}},
  };
  for (const row& r : rows) {
    std::vector<iconentry> entries(r.count, iconentry{16, 16, 0, 0, 1, 32, 100, 0});
    std::vector<iconresource> plan;
    std::string error;
    ASSERT_TRUE(planiconresources(entries, plan, error)) << r.count << ": " << error;
    ASSERT_EQ(plan.size(), r.images.size()) << r.count;
    for (std::size_t k = 0; k < plan.size(); ++k) {
      EXPECT_EQ(plan[k].id, k + 1) << r.count;
      EXPECT_EQ(plan[k].image, r.images[k]) << r.count << " images, identifier " << k + 1;
    }
  }
}

TEST(iconplanning, KeepsIdentifiersAndSizeWithinBounds) {
  auto entries = [](std::size_t count, std::uint32_t size) {
    return std::vector<iconentry>(count, iconentry{16, 16, 0, 0, 1, 32, size, 0});
  };
  std::vector<iconresource> plan;
  std::string error;
  // 32772 images end at identifier 2 * 32772 - 10 = 65534; 32773 would need 65536.
  EXPECT_TRUE(planiconresources(entries(32772, 1), plan, error)) << error;
  EXPECT_EQ(plan.back().id, 65534);
  EXPECT_FALSE(planiconresources(entries(32773, 1), plan, error));
  EXPECT_EQ(error, "the icon file has too many images");
  EXPECT_TRUE(plan.empty());
  EXPECT_FALSE(planiconresources({}, plan, error));
  // The copies count: one 7 MiB image written ten times is over the bound,
  // although the file itself would be small enough.
  EXPECT_FALSE(planiconresources(entries(1, 7u << 20), plan, error));
  EXPECT_EQ(error, "the icon file's images are too large");
  EXPECT_TRUE(planiconresources(entries(1, 6u << 20), plan, error)) << error;
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
    iconplan plan;
    std::string error;
    EXPECT_FALSE(load(r.bytes, plan, error)) << r.what;
    EXPECT_EQ(error, r.error) << r.what;
    EXPECT_TRUE(plan.images.empty()) << r.what;
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
