// POSIX: narrow text and the "ANSI code page" are both UTF-8; conversions use iconv.
#include "platform/text.h"

#include <iconv.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kelvane {

namespace {

// Converts with iconv; false on any invalid or unconvertible input.
bool convert(const char* to, const char* from, const char* in, size_t inbytes, std::string& out) {
  out.clear();
  if (inbytes == 0) return true;
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string buffer(inbytes * 4 + 16, '\0');
  char* src = const_cast<char*>(in);
  char* dst = buffer.data();
  size_t left = buffer.size();
  size_t r = iconv(cd, &src, &inbytes, &dst, &left);
  iconv_close(cd);
  if (r == static_cast<size_t>(-1) || inbytes != 0) return false;
  buffer.resize(buffer.size() - left);
  out = std::move(buffer);
  return true;
}

bool utf8toutf16(std::string_view narrow, std::u16string& wide) {
  std::string bytes;
  if (!convert("UTF-16LE", "UTF-8", narrow.data(), narrow.size(), bytes)) {
    wide.clear();
    return false;
  }
  wide.assign(bytes.size() / 2, u'\0');
  std::memcpy(wide.data(), bytes.data(), wide.size() * 2);
  return true;
}

bool utf16toutf8(std::u16string_view wide, std::string& narrow) {
  if (!convert("UTF-8", "UTF-16LE", reinterpret_cast<const char*>(wide.data()), wide.size() * 2, narrow)) {
    narrow.clear();
    return false;
  }
  return true;
}

}  // namespace

std::u16string towide(std::string_view narrow) {
  std::u16string wide;
  utf8toutf16(narrow, wide);
  return wide;
}

std::string tonarrow(std::u16string_view wide) {
  std::string narrow;
  utf16toutf8(wide, narrow);
  return narrow;
}

bool acptowide(std::string_view acp, std::u16string& wide) { return utf8toutf16(acp, wide); }
bool widetoacp(std::u16string_view wide, std::string& acp) { return utf16toutf8(wide, acp); }

bool narrowtoacp(std::string_view narrow, std::string& acp) {
  std::u16string wide;
  return utf8toutf16(narrow, wide) && utf16toutf8(wide, acp);
}

bool acptonarrow(std::string_view acp, std::string& narrow) { return narrowtoacp(acp, narrow); }

}  // namespace kelvane
