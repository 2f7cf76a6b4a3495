// The conversions that need no system call of their own.
#include "platform/text.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/codepage.h"

namespace kelvane {

char16_t* towidebuffer(std::string_view narrow) {
  std::u16string wide = towide(narrow);
  auto* buffer = static_cast<char16_t*>(std::calloc(wide.size() + 1, sizeof(char16_t)));
  if (buffer) std::memcpy(buffer, wide.data(), wide.size() * sizeof(char16_t));
  return buffer;
}

namespace {

// Strict UTF-8 to UTF-16: no overlong forms, surrogates or values past U+10FFFF.
bool strictutf16(std::string_view narrow, std::u16string& wide) {
  wide.clear();
  for (std::size_t i = 0; i < narrow.size();) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(narrow[k]); };
    unsigned char lead = byte(i);
    int more = lead < 0x80 ? 0 : lead >= 0xC2 && lead < 0xE0 ? 1 : lead >= 0xE0 && lead < 0xF0 ? 2 : lead >= 0xF0 && lead < 0xF5 ? 3 : -1;
    if (more < 0 || i + static_cast<std::size_t>(more) >= narrow.size()) return false;
    std::uint32_t c = more == 0 ? lead : lead & (0x3F >> more);
    for (int k = 1; k <= more; ++k) {
      if ((byte(i + k) & 0xC0) != 0x80) return false;
      c = c << 6 | (byte(i + k) & 0x3F);
    }
    static const std::uint32_t least[] = {0, 0x80, 0x800, 0x10000};
    if (c < least[more] || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) return false;
    if (c >= 0x10000) {
      wide.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      wide.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      wide.push_back(static_cast<char16_t>(c));
    }
    i += static_cast<std::size_t>(more) + 1;
  }
  return true;
}

}  // namespace

bool narrowtocodepage(std::string_view narrow, unsigned codepage, std::string& out) {
  out.clear();
  std::u16string wide;
  if (!strictutf16(narrow, wide)) return false;
  if (wide.empty()) return true;
  if (codepage == 0) codepage = codepage::ansicodepage();
  // The way back is the test: a default character or a best-fit replacement
  // does not convert back to the character it stands for. (Asking Windows'
  // converter whether it used its default character fails for UTF-8 and some
  // other code pages.)
  const int units = static_cast<int>(wide.size());
  int n = codepage::widetomultibyte(codepage, wide.data(), units, nullptr, 0, nullptr);
  if (n <= 0) return false;
  out.assign(static_cast<std::size_t>(n), '\0');
  if (codepage::widetomultibyte(codepage, wide.data(), units, out.data(), n, nullptr) != n) return false;
  std::u16string back(wide.size() + 1, u'\0');
  int m = codepage::multibytetowide(codepage, out.data(), n, back.data(), static_cast<int>(back.size()));
  return m == units && back.compare(0, wide.size(), wide) == 0;
}

}  // namespace kelvane
