#include "package/datamd5.h"

#include "tests/support/scratch.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace kelvane {
namespace {

std::string digest(const std::vector<unsigned char>& data) {
  char out[33];
  datamd5().buffermd5(data.data(), static_cast<std::int64_t>(data.size()), out);
  return out;
}

std::vector<unsigned char> bytesof(const std::string& s) { return {s.begin(), s.end()}; }

std::vector<unsigned char> pattern(std::size_t n) {
  std::vector<unsigned char> data(n);
  std::uint32_t x = 12345;
  for (auto& b : data) {
    x = x * 1103515245 + 12345;
    b = static_cast<unsigned char>(x >> 16);
  }
  return data;
}

TEST(SampledDigest, ShortDataIsPlainMd5) {
  // RFC 1321, appendix A.5.
  struct { const char* text; const char* md5; } cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& c : cases) EXPECT_EQ(digest(bytesof(c.text)), c.md5) << c.text;
}

TEST(SampledDigest, TextIsLowercaseHex) {
  std::string d = digest(pattern(100));
  ASSERT_EQ(d.size(), 32u);
  for (char c : d) EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')) << d;
}

// Up to 36864 bytes every byte counts; from 36865 on, byte 32768 lies between
// the eighth sample (ending at 8 * 4096) and the last one.
TEST(SampledDigest, SamplingThreshold) {
  struct { std::size_t n; std::size_t changed; bool detected; } cases[] = {
      {36863, 32768, true},   // step 4095: hashed whole
      {36864, 32768, true},   // step 4096: samples tile the data exactly
      {36864, 36863, true},
      {36865, 32768, false},  // the one byte outside the samples
      {36865, 32767, true},   // last byte of the eighth sample
      {36865, 32769, true},   // first byte of the last sample
      {900000, 50000, false}, // a gap between samples of a large archive
      {900000, 0, true},
      {900000, 899999, true},
  };
  for (const auto& c : cases) {
    auto data = pattern(c.n);
    std::string before = digest(data);
    data[c.changed] ^= 0x5A;
    EXPECT_EQ(digest(data) != before, c.detected) << "n=" << c.n << " changed=" << c.changed;
  }
}

TEST(SampledDigest, ExactlyNineSamplesCoverTheWholeData) {
  // At n = 36864 the samples are the data in order, so the digest is plain MD5
  // of all of it: the same as digesting it as nine pieces fed in order.
  auto data = pattern(36864);
  auto head = std::vector<unsigned char>(data.begin(), data.begin() + 36863);
  EXPECT_NE(digest(data), digest(head));
  // The sampled digest of 36865 bytes equals plain MD5 of the 36864 sampled
  // bytes (bytes 0..32767 and 32769..36864).
  auto big = pattern(36865);
  std::vector<unsigned char> sampled(big.begin(), big.begin() + 32768);
  sampled.insert(sampled.end(), big.begin() + 32769, big.end());
  EXPECT_EQ(digest(big), digest(sampled));
}

class StreamDigest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(StreamDigest, FileRangeAndBufferAgree) {
  auto data = pattern(GetParam());
  testing::scratchfolder folder;
  std::FILE* f = fs::openfile(folder.file("package"), "w+b");
  ASSERT_NE(f, nullptr);
  // The data sits between 100 bytes before and 77 bytes after, as an archive
  // sits inside a package.
  std::vector<unsigned char> before(100, 0xEE), after(77, 0xDD);
  std::fwrite(before.data(), 1, before.size(), f);
  if (!data.empty()) std::fwrite(data.data(), 1, data.size(), f);
  std::fwrite(after.data(), 1, after.size(), f);

  char range[33];
  datamd5 md5;
  ASSERT_EQ(md5.rangemd5(f, 100, static_cast<std::int64_t>(data.size()), range), 0);
  EXPECT_EQ(std::string(range), digest(data));

  std::vector<unsigned char> whole(before);
  whole.insert(whole.end(), data.begin(), data.end());
  whole.insert(whole.end(), after.begin(), after.end());
  char file[33];
  ASSERT_EQ(md5.filemd5(f, file), 0);  // stream at its end: filemd5 rewinds
  EXPECT_EQ(std::string(file), digest(whole));
  EXPECT_EQ(std::ftell(f), static_cast<long>(whole.size()));
  std::fclose(f);
}

INSTANTIATE_TEST_SUITE_P(Sizes, StreamDigest, ::testing::Values(0, 1, 4095, 36863, 36864, 36865, 1000000));

TEST(SampledDigest, RangeBeyondTheEndFails) {
  testing::scratchfolder folder;
  std::FILE* f = fs::openfile(folder.file("short"), "w+b");
  ASSERT_NE(f, nullptr);
  std::fputs("short", f);
  char out[33];
  EXPECT_EQ(datamd5().rangemd5(f, 2, 100, out), -1);
  EXPECT_EQ(out[0], '\0');
  std::fclose(f);
}

}  // namespace
}  // namespace kelvane
