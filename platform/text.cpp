// The conversions that need no system call of their own.
#include "platform/text.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/codepage.h"

namespace kelvane {

namespace {

// Upper case of one letter in blocks where capitals and small letters pair up
// one below the other: the capital at an even code (or, if `oddcapital`, odd).
char16_t pairedupper(char16_t c, bool oddcapital) { return (c % 2 == 1) != oddcapital ? c - 1 : c; }

char16_t upper(char16_t c) {
  if (c == u'/') return u'\\';
  if (c >= u'a' && c <= u'z') return c - 0x20;
  if (c < 0xe0) return c;
  if (c <= 0xfe) return c == 0xf7 ? c : c - 0x20;  // Latin-1, less the division sign
  if (c == 0xff) return 0x178;
  if (c >= 0x100 && c <= 0x17f) {  // Latin Extended-A
    if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17f) return c;
    return pairedupper(c, (c >= 0x139 && c <= 0x148) || c >= 0x179);
  }
  if (c == 0x3ac) return 0x386;                              // Greek with tonos
  if (c >= 0x3ad && c <= 0x3af) return c - 0x25;
  if (c == 0x3c2) return 0x3a3;                              // final sigma
  if (c >= 0x3b1 && c <= 0x3cb) return c - 0x20;
  if (c == 0x3cc) return 0x38c;
  if (c == 0x3cd || c == 0x3ce) return c - 0x3f;
  if (c >= 0x430 && c <= 0x44f) return c - 0x20;             // Cyrillic
  if (c >= 0x450 && c <= 0x45f) return c - 0x50;
  if ((c >= 0x460 && c <= 0x481) || (c >= 0x48a && c <= 0x4bf) || (c >= 0x4d0 && c <= 0x52f))
    return pairedupper(c, false);
  if (c >= 0x4c1 && c <= 0x4ce) return pairedupper(c, true);
  if (c == 0x4cf) return 0x4c0;
  if (c >= 0xff41 && c <= 0xff5a) return c - 0x20;           // full-width Latin
  return c;
}

}  // namespace

std::u16string foldname(std::u16string_view name) {
  std::u16string folded(name);
  for (auto& c : folded) c = upper(c);
  return folded;
}

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
