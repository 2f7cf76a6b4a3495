#include "platform/elevation.h"

#include <windows.h>
#include <ntsecapi.h>
#include <sddl.h>

#include <vector>

#include "platform/files.h"
#include "platform/text.h"

namespace kelvane::elevation {

namespace {

const wchar_t* w(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

std::vector<unsigned char> tokeninformation(HANDLE token, TOKEN_INFORMATION_CLASS what) {
  DWORD n = 0;
  GetTokenInformation(token, what, nullptr, 0, &n);
  std::vector<unsigned char> buffer(n);
  if (!n || !GetTokenInformation(token, what, buffer.data(), n, &n)) buffer.clear();
  return buffer;
}

bool isservice(HANDLE token) {
  auto user = tokeninformation(token, TokenUser);
  if (user.empty()) return false;
  PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
  for (auto kind : {WinLocalSystemSid, WinLocalServiceSid, WinNetworkServiceSid})
    if (IsWellKnownSid(sid, kind)) return true;
  auto groups = tokeninformation(token, TokenGroups);
  if (groups.empty()) return false;
  auto* list = reinterpret_cast<TOKEN_GROUPS*>(groups.data());
  for (DWORD i = 0; i < list->GroupCount; ++i)
    if ((list->Groups[i].Attributes & SE_GROUP_ENABLED) && IsWellKnownSid(list->Groups[i].Sid, WinServiceSid))
      return true;
  return false;
}

}  // namespace

bool elevated() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  TOKEN_ELEVATION elevation{};
  DWORD n = 0;
  bool full = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &n) && elevation.TokenIsElevated;
  bool result = full || isservice(token);
  CloseHandle(token);
  return result;
}

void trustnoredirection() {
  using setpolicy = BOOL(WINAPI*)(PROCESS_MITIGATION_POLICY, PVOID, SIZE_T);
  auto set = reinterpret_cast<setpolicy>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetProcessMitigationPolicy")));
  if (!set) return;
  PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY policy{};
  policy.EnforceRedirectionTrust = 1;
  set(ProcessRedirectionTrustPolicy, &policy, sizeof policy);  // refused before Windows 11: fine
}

bool randombytes(unsigned char* out, std::size_t n) {
  return RtlGenRandom(out, static_cast<ULONG>(n)) != FALSE;
}

std::u16string systemtemppath() {
  using gettemp = DWORD(WINAPI*)(DWORD, LPWSTR);
  auto temp2 = reinterpret_cast<gettemp>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetTempPath2W")));
  if (!temp2) return fs::temppath();
  DWORD n = temp2(0, nullptr);
  if (n == 0) return fs::temppath();
  std::u16string buffer(n, u'\0');
  DWORD got = temp2(n, reinterpret_cast<wchar_t*>(buffer.data()));
  if (got == 0 || got >= n) return fs::temppath();
  buffer.resize(got);
  return buffer;
}

made makeprotectedfolder(const std::u16string& path, const std::u16string& sddl, unsigned long& error) {
  SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(w(sddl), SDDL_REVISION_1,
                                                            &attributes.lpSecurityDescriptor, nullptr)) {
    error = GetLastError();
    return made::failed;
  }
  // One call: the folder never exists without its access list. An existing
  // name (a folder, a file, a link) fails with ERROR_ALREADY_EXISTS.
  BOOL created = CreateDirectoryW(w(path), &attributes);
  error = created ? 0 : GetLastError();
  LocalFree(attributes.lpSecurityDescriptor);
  if (created) return made::created;
  return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? made::exists : made::failed;
}

std::u16string reachablepath(const std::u16string& given) {
  std::u16string path = given;
  if (path.size() < 3 || path[1] != u':') return path;  // already a UNC or device path
  // mpr.dll, loaded only here and only from the system folder, keeps the
  // stub's imports to the DLLs Windows always takes from there.
  HMODULE mpr = LoadLibraryExW(L"mpr.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!mpr) return path;
  using getuniversal = DWORD(WINAPI*)(LPCWSTR, DWORD, LPVOID, LPDWORD);
  auto universal = reinterpret_cast<getuniversal>(
      reinterpret_cast<void*>(GetProcAddress(mpr, "WNetGetUniversalNameW")));
  if (universal) {
    std::vector<unsigned char> buffer(4096 * sizeof(wchar_t));
    DWORD size = static_cast<DWORD>(buffer.size());
    if (universal(w(path), UNIVERSAL_NAME_INFO_LEVEL, buffer.data(), &size) == NO_ERROR) {
      auto* info = reinterpret_cast<UNIVERSAL_NAME_INFOW*>(buffer.data());
      if (info->lpUniversalName && info->lpUniversalName[0])
        path.assign(reinterpret_cast<const char16_t*>(info->lpUniversalName));
    }
  }
  FreeLibrary(mpr);
  return path;
}

std::u16string programpath() {
  std::string own = fs::ownexecutable();
  return own.empty() ? std::u16string() : reachablepath(towide(own));
}

}  // namespace kelvane::elevation
