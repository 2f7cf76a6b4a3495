// POSIX: the converter runs on iconv. Code page 0, the narrow code page, is
// UTF-8 here; the other code pages of the encoding name table map to iconv's
// names. Like Windows' converter it substitutes instead of failing: U+FFFD for
// bytes that are not valid in the source, the default character "?" (U+FFFD
// for UTF-8 targets) for characters the target cannot hold.
#include "platform/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace kelvane::codepage {

namespace {

struct namedcodepage {
  unsigned codepage;
  const char* name;
};

// Code pages whose iconv name is not simply "CP" and the number.
constexpr namedcodepage kNames[] = {
    {0, "UTF-8"},          {154, "PT154"},          {708, "ASMO-708"},         {10000, "MACINTOSH"},
    {10007, "MAC-CYRILLIC"}, {10017, "MAC-UK"},     {10029, "MAC-CENTRALEUROPE"}, {10079, "MAC-IS"},
    {20127, "ASCII"},      {20866, "KOI8-R"},       {20932, "EUC-JP"},         {21866, "KOI8-U"},
    {28591, "ISO-8859-1"}, {28592, "ISO-8859-2"},   {28593, "ISO-8859-3"},     {28594, "ISO-8859-4"},
    {28595, "ISO-8859-5"}, {28596, "ISO-8859-6"},   {28597, "ISO-8859-7"},     {28598, "ISO-8859-8"},
    {28599, "ISO-8859-9"}, {28603, "ISO-8859-13"},  {28605, "ISO-8859-15"},    {38598, "ISO-8859-8"},
    {50220, "ISO-2022-JP"}, {50221, "ISO-2022-JP"}, {50222, "ISO-2022-JP"},    {50225, "ISO-2022-KR"},
    {51932, "EUC-JP"},     {51936, "EUC-CN"},       {51949, "EUC-KR"},         {54936, "GB18030"},
    {65000, "UTF-7"},      {65001, "UTF-8"},
};

// Like Windows' converter, the UTF-16 and UTF-32 code pages are not converted.
bool widecodepage(unsigned codepage) {
  return codepage == 1200 || codepage == 1201 || codepage == 12000 || codepage == 12001;
}

// Windows' tables for its code pages 1250 to 1258 give each byte in 0x80 to
// 0x9F that has no character of its own the C1 control of the same value,
// both ways; iconv's tables leave those bytes undefined.
bool c1passthrough(unsigned codepage) { return codepage >= 1250 && codepage <= 1258; }

std::string iconvname(unsigned codepage) {
  for (const auto& n : kNames)
    if (n.codepage == codepage) return n.name;
  return "CP" + std::to_string(codepage);
}

// One iconv conversion descriptor, closed on scope exit.
class converter {
 public:
  converter(const std::string& to, const std::string& from) : cd_(iconv_open(to.c_str(), from.c_str())) {}
  ~converter() {
    if (ok()) iconv_close(cd_);
  }
  converter(const converter&) = delete;
  converter& operator=(const converter&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts all of `in`, calling `substitute` with the bytes not yet
  // converted whenever iconv stops at input it cannot take; `substitute`
  // appends a replacement and returns how many input bytes to skip.
  template <class Substitute>
  std::string run(const char* in, size_t inbytes, Substitute substitute) {
    std::string out;
    char buffer[4096];
    char* src = const_cast<char*>(in);
    for (;;) {
      char* dst = buffer;
      size_t room = sizeof buffer;
      size_t r = inbytes ? iconv(cd_, &src, &inbytes, &dst, &room) : iconv(cd_, nullptr, nullptr, &dst, &room);
      int error = r == static_cast<size_t>(-1) ? errno : 0;
      out.append(buffer, dst);
      if (error == E2BIG) continue;
      if (error == EILSEQ || error == EINVAL) {
        size_t skip = substitute(src, inbytes, out);
        src += skip;
        inbytes -= skip;
        continue;
      }
      if (error != 0) return {};
      if (inbytes == 0 && src != nullptr) {
        src = nullptr;  // one more round flushes a stateful encoding's shift state
        continue;
      }
      return out;
    }
  }

 private:
  iconv_t cd_;
};

void appendunit(std::string& out, char16_t unit) {
  out.push_back(static_cast<char>(unit & 0xFF));
  out.push_back(static_cast<char>(unit >> 8));
}

}  // namespace

unsigned ansicodepage() { return 65001; }

int multibytetowide(unsigned codepage, const char* source, int sourcebytes, char16_t* output, int capacity) {
  if (sourcebytes <= 0 || capacity < 0 || widecodepage(codepage)) return 0;
  converter cd("UTF-16LE", iconvname(codepage));
  if (!cd.ok()) return 0;
  const bool c1 = c1passthrough(codepage);
  std::string bytes = cd.run(source, static_cast<size_t>(sourcebytes), [c1](const char* at, size_t, std::string& out) {
    auto byte = static_cast<unsigned char>(*at);
    appendunit(out, c1 && byte >= 0x80 && byte <= 0x9F ? char16_t(byte) : u'\uFFFD');
    return size_t{1};
  });
  int units = static_cast<int>(bytes.size() / 2);
  if (capacity == 0) return units;
  if (units > capacity) return 0;
  for (int i = 0; i < units; ++i)
    output[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                      static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
  return units;
}

int widetomultibyte(unsigned codepage, const char16_t* source, int sourceunits, char* output, int capacity,
                    bool* lost) {
  if (lost) *lost = false;
  if (sourceunits <= 0 || capacity < 0 || widecodepage(codepage)) return 0;
  std::string name = iconvname(codepage);
  converter cd(name, "UTF-16LE");
  if (!cd.ok()) return 0;
  std::string in;
  in.reserve(static_cast<size_t>(sourceunits) * 2);
  for (int i = 0; i < sourceunits; ++i) appendunit(in, source[i]);
  const bool utf8 = name == "UTF-8", c1 = c1passthrough(codepage);
  bool substituted = false;
  std::string bytes = cd.run(in.data(), in.size(), [&](const char* at, size_t left, std::string& out) {
    auto unit = [&](size_t i) { return static_cast<unsigned char>(at[2 * i]) | static_cast<unsigned char>(at[2 * i + 1]) << 8; };
    if (c1 && left >= 2 && unit(0) >= 0x80 && unit(0) <= 0x9F) {
      out.push_back(static_cast<char>(unit(0)));
      return size_t{2};
    }
    out += utf8 ? "\xEF\xBF\xBD" : "?";
    substituted = true;
    // One default character per character: a surrogate pair is skipped whole.
    if (left >= 4 && unit(0) >= 0xD800 && unit(0) < 0xDC00 && unit(1) >= 0xDC00 && unit(1) < 0xE000) return size_t{4};
    return left < 2 ? left : size_t{2};
  });
  if (lost && !utf8) *lost = substituted;
  int count = static_cast<int>(bytes.size());
  if (capacity == 0) return count;
  if (count > capacity) return 0;
  std::memcpy(output, bytes.data(), bytes.size());
  return count;
}

}  // namespace kelvane::codepage
