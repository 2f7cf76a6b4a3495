#include "platform/environment.h"

#include <windows.h>

#include "platform/text.h"

namespace kelvane::env {

namespace {
const wchar_t* w(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }
}  // namespace

bool set(const std::string& name, const std::string& value) {
  return SetEnvironmentVariableW(w(towide(name)), w(towide(value))) != 0;
}

bool unset(const std::string& name) { return SetEnvironmentVariableW(w(towide(name)), nullptr) != 0; }

std::optional<std::string> get(const std::string& name) {
  std::u16string wname = towide(name);
  DWORD n = GetEnvironmentVariableW(w(wname), nullptr, 0);
  if (n == 0) {
    if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
    return std::string();
  }
  std::u16string value(n, u'\0');
  DWORD got = GetEnvironmentVariableW(w(wname), reinterpret_cast<wchar_t*>(value.data()), n);
  value.resize(got < n ? got : 0);
  return tonarrow(value);
}

}  // namespace kelvane::env
