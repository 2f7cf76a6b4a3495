#include "resources/version.h"

#include <gtest/gtest.h>

#include <string>

namespace kelvane {
namespace {

// A version block: its length field, value length and type, then the key.
std::string block(unsigned length, std::u16string key, std::size_t size) {
  std::string bytes;
  auto put = [&](unsigned v) { bytes += char(v & 0xff), bytes += char(v >> 8 & 0xff); };
  put(length), put(52), put(0);
  for (char16_t c : key) put(c);
  put(0);
  bytes.resize(size, '\0');
  return bytes;
}

TEST(VersionResource, OnlyAWholeVersionBlockIsTaken) {
  struct { const char* what; std::string bytes; const char* problem; } cases[] = {
      {"a block of 92 bytes", block(92, u"VS_VERSION_INFO", 92), ""},
      {"padding after the block", block(92, u"VS_VERSION_INFO", 96), ""},
      {"just its header", block(38, u"VS_VERSION_INFO", 38), ""},
      {"longer than the resource", block(200, u"VS_VERSION_INFO", 92), "the version resource's length does not fit"},
      {"length below its own header", block(10, u"VS_VERSION_INFO", 92), "the version resource's length does not fit"},
      {"another key", block(92, u"VS_VERSION_INFX", 92), "the version resource has no VS_VERSION_INFO"},
      {"a key without its zero", block(92, u"VS_VERSION_INFOO", 92), "the version resource has no VS_VERSION_INFO"},
      {"empty", "", "the version resource is too short"},
      {"cut inside the key", block(92, u"VS_VERSION_INFO", 20), "the version resource is too short"},
  };
  for (const auto& c : cases) EXPECT_EQ(checkversionresource(c.bytes), c.problem) << c.what;
}

}  // namespace
}  // namespace kelvane
