#include "resources/version.h"

#include <cstdint>

namespace kelvane {

namespace {

std::uint16_t word(std::string_view bytes, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                    static_cast<unsigned char>(bytes[at + 1]) << 8);
}

}  // namespace

// The block starts with its length, its value's length and its type, then the
// key "VS_VERSION_INFO" in UTF-16 with its terminating zero.
std::string checkversionresource(std::string_view resource) {
  const std::u16string_view key = u"VS_VERSION_INFO";
  const std::size_t header = 6 + 2 * (key.size() + 1);
  if (resource.size() < header) return "the version resource is too short";
  std::size_t length = word(resource, 0);
  if (length < header || length > resource.size()) return "the version resource's length does not fit";
  for (std::size_t i = 0; i <= key.size(); ++i)
    if (word(resource, 6 + 2 * i) != (i < key.size() ? key[i] : 0)) return "the version resource has no VS_VERSION_INFO";
  return {};
}

}  // namespace kelvane
