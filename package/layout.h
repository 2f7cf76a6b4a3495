// The package: stub, setup archive, app archive, then a 72-byte trailer.
//
//   offset in trailer  size  field
//   0                  4     setup_offset  (little-endian)
//   4                  32    setup_digest  (lowercase hex, no terminator)
//   36                 4     app_offset    (little-endian)
//   40                 32    app_digest
//
// The setup archive spans [setup_offset, app_offset), the app archive
// [app_offset, file size - 72). Writer and reader share this one definition.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

namespace kelvane {

// A program file of exactly this size is the bare stub and runs the builder.
inline constexpr std::int64_t stubsize = 1950720;
inline constexpr std::int64_t trailersize = 72;
inline constexpr int digestlength = 32;  // hex digits, held in 33-byte buffers

struct packagetrailer {
  std::uint32_t setup_offset = 0;
  std::array<char, digestlength> setup_digest{};
  std::uint32_t app_offset = 0;
  std::array<char, digestlength> app_digest{};

  std::array<unsigned char, trailersize> encode() const {
    std::array<unsigned char, trailersize> bytes{};
    putle32(bytes.data(), setup_offset);
    std::memcpy(bytes.data() + 4, setup_digest.data(), digestlength);
    putle32(bytes.data() + 36, app_offset);
    std::memcpy(bytes.data() + 40, app_digest.data(), digestlength);
    return bytes;
  }

  static packagetrailer decode(const unsigned char* bytes) {
    packagetrailer t;
    t.setup_offset = getle32(bytes);
    std::memcpy(t.setup_digest.data(), bytes + 4, digestlength);
    t.app_offset = getle32(bytes + 36);
    std::memcpy(t.app_digest.data(), bytes + 40, digestlength);
    return t;
  }

  static void putle32(unsigned char* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
  }
  static std::uint32_t getle32(const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
  }
};

}  // namespace kelvane
