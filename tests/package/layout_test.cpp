#include "package/layout.h"

#include <gtest/gtest.h>

#include <string>

namespace kelvane {
namespace {

TEST(PackageTrailer, EncodesFieldsInOrderLittleEndian) {
  packagetrailer t;
  t.setup_offset = 1950720;
  t.app_offset = 0x01020304;
  std::string setup(32, 'a'), app = "0123456789abcdef0123456789abcdef";
  std::copy(setup.begin(), setup.end(), t.setup_digest.begin());
  std::copy(app.begin(), app.end(), t.app_digest.begin());

  auto bytes = t.encode();
  ASSERT_EQ(bytes.size(), 72u);
  EXPECT_EQ(bytes[0], 0x00);
  EXPECT_EQ(bytes[1], 0xC4);
  EXPECT_EQ(bytes[2], 0x1D);
  EXPECT_EQ(bytes[3], 0x00);
  EXPECT_EQ(std::string(bytes.begin() + 4, bytes.begin() + 36), setup);
  EXPECT_EQ(bytes[36], 0x04);
  EXPECT_EQ(bytes[39], 0x01);
  EXPECT_EQ(std::string(bytes.begin() + 40, bytes.end()), app);

  packagetrailer back = packagetrailer::decode(bytes.data());
  EXPECT_EQ(back.setup_offset, t.setup_offset);
  EXPECT_EQ(back.app_offset, t.app_offset);
  EXPECT_EQ(back.setup_digest, t.setup_digest);
  EXPECT_EQ(back.app_digest, t.app_digest);
}

TEST(PackageTrailer, OffsetsAboveTwoGigabytesKeepAllBits) {
  unsigned char bytes[72] = {};
  bytes[0] = 0xFF, bytes[1] = 0xFF, bytes[2] = 0xFF, bytes[3] = 0xFF;
  EXPECT_EQ(packagetrailer::decode(bytes).setup_offset, 0xFFFFFFFFu);
}

}  // namespace
}  // namespace kelvane
