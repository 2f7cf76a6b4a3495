// Windows: narrow text is UTF-8 (CP_UTF8); the ANSI code page is CP_ACP.
#include "platform/text.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace kelvane {

namespace {

const wchar_t* w(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }
wchar_t* w(char16_t* s) { return reinterpret_cast<wchar_t*>(s); }

// flags: MB_ERR_INVALID_CHARS for the strict forms, 0 otherwise.
bool multibytetowide(UINT codepage, DWORD flags, std::string_view in, std::u16string& out) {
  out.clear();
  if (in.empty()) return true;
  int n = MultiByteToWideChar(codepage, flags, in.data(), static_cast<int>(in.size()), nullptr, 0);
  if (n <= 0) return false;
  out.assign(static_cast<size_t>(n), u'\0');
  MultiByteToWideChar(codepage, flags, in.data(), static_cast<int>(in.size()), w(out.data()), n);
  return true;
}

// `strict` refuses characters the code page cannot hold (never for UTF-8,
// which holds them all but rejects lone surrogates through WC_ERR_INVALID_CHARS).
bool widetomultibyte(UINT codepage, bool strict, std::u16string_view in, std::string& out) {
  out.clear();
  if (in.empty()) return true;
  DWORD flags = codepage == CP_UTF8 && strict ? WC_ERR_INVALID_CHARS : 0;
  BOOL lost = FALSE;
  BOOL* lostflag = codepage == CP_UTF8 || !strict ? nullptr : &lost;
  int n = WideCharToMultiByte(codepage, flags, w(in.data()), static_cast<int>(in.size()), nullptr, 0, nullptr,
                              lostflag);
  if (n <= 0 || lost) return false;
  out.assign(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(codepage, flags, w(in.data()), static_cast<int>(in.size()), out.data(), n, nullptr, nullptr);
  return true;
}

}  // namespace

std::u16string towide(std::string_view narrow) {
  std::u16string wide;
  multibytetowide(CP_UTF8, 0, narrow, wide);
  return wide;
}

std::string tonarrow(std::u16string_view wide) {
  std::string narrow;
  widetomultibyte(CP_UTF8, false, wide, narrow);
  return narrow;
}

bool acptowide(std::string_view acp, std::u16string& wide) {
  return multibytetowide(CP_ACP, MB_ERR_INVALID_CHARS, acp, wide);
}

bool widetoacp(std::u16string_view wide, std::string& acp) { return widetomultibyte(CP_ACP, true, wide, acp); }

bool narrowtoacp(std::string_view narrow, std::string& acp) {
  std::u16string wide;
  return multibytetowide(CP_UTF8, MB_ERR_INVALID_CHARS, narrow, wide) && widetoacp(wide, acp);
}

bool acptonarrow(std::string_view acp, std::string& narrow) {
  std::u16string wide;
  return acptowide(acp, wide) && widetomultibyte(CP_UTF8, true, wide, narrow);
}

}  // namespace kelvane
