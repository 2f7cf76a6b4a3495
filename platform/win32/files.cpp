#include "platform/files.h"

#include <direct.h>
#include <io.h>
#include <windows.h>

#include <algorithm>

#include "platform/text.h"

namespace kelvane::fs {

namespace {

std::wstring wpath(const std::string& path) {
  std::u16string wide = towide(path);
  return std::wstring(wide.begin(), wide.end());
}

// Win32's two-call texts: ask for the length (terminator included), then fill
// a buffer of that length. Empty when either call fails.
std::u16string fetchtext(DWORD(WINAPI* call)(DWORD, LPWSTR)) {
  DWORD n = call(0, nullptr);
  if (n == 0) return {};
  std::u16string buffer(n, u'\0');
  DWORD got = call(n, reinterpret_cast<wchar_t*>(buffer.data()));
  if (got == 0 || got >= n) return {};
  buffer.resize(got);
  return buffer;
}

}  // namespace

char separator() { return '\\'; }

std::string nativepath(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

std::FILE* openfile(const std::string& path, const char* mode) {
  std::wstring wmode(mode, mode + std::char_traits<char>::length(mode));
  return _wfopen(wpath(path).c_str(), wmode.c_str());
}

bool seek(std::FILE* file, std::int64_t offset, int origin) { return _fseeki64(file, offset, origin) == 0; }

std::int64_t tell(std::FILE* file) { return _ftelli64(file); }

std::int64_t pathsize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(wpath(path).c_str(), GetFileExInfoStandard, &data)) return -1;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return -1;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    // The attributes describe a link itself (a symbolic link reads 0 bytes):
    // the file it leads to is what will be read.
    HANDLE file = CreateFileW(wpath(path).c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return -1;
    LARGE_INTEGER size{};
    BY_HANDLE_FILE_INFORMATION info{};
    bool ok = GetFileSizeEx(file, &size) && GetFileInformationByHandle(file, &info) &&
              !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    CloseHandle(file);
    return ok ? static_cast<std::int64_t>(size.QuadPart) : -1;
  }
  return static_cast<std::int64_t>((std::uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

bool listfolder(const std::string& path, std::vector<direntry>& entries) {
  entries.clear();
  _wfinddata64_t found{};
  intptr_t handle = _wfindfirst64(wpath(path + "\\*").c_str(), &found);
  if (handle == -1) return false;
  do {
    direntry e;
    std::u16string name(reinterpret_cast<const char16_t*>(found.name));
    e.name = tonarrow(name);
    e.folder = (found.attrib & _A_SUBDIR) != 0;
    e.link = (found.attrib & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    entries.push_back(std::move(e));
  } while (_wfindnext64(handle, &found) == 0);
  _findclose(handle);
  return true;
}

bool makefolder(const std::string& path) { return _wmkdir(wpath(path).c_str()) == 0 || isfolder(path); }

// A link goes through removelink: under wine RemoveDirectoryW on a link to
// an empty folder removes that folder and keeps the link.
bool removefolder(const std::string& path) {
  if (kindof(path) == pathkind::link) return removelink(path);
  return RemoveDirectoryW(wpath(path).c_str()) != 0;
}

pathkind kindof(const std::string& path) {
  DWORD attributes = GetFileAttributesW(wpath(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return pathkind::missing;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return pathkind::link;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? pathkind::folder : pathkind::file;
}

// FILE_FLAG_OPEN_REPARSE_POINT opens the link itself, and deleting through
// that handle deletes exactly what was opened, even if the name was swapped
// for something else since it was looked at. wine 8 opens the link's target
// instead (the handle shows no reparse point): nothing is deleted then.
bool removelink(const std::string& path) {
  HANDLE link = CreateFileW(wpath(path).c_str(), DELETE | FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (link == INVALID_HANDLE_VALUE) return false;
  FILE_ATTRIBUTE_TAG_INFO opened{};
  bool islink = GetFileInformationByHandleEx(link, FileAttributeTagInfo, &opened, sizeof opened) &&
                (opened.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
  FILE_DISPOSITION_INFO gone{TRUE};
  bool removed = islink && SetFileInformationByHandle(link, FileDispositionInfo, &gone, sizeof gone);
  CloseHandle(link);
  return removed;
}

bool removefile(const std::string& path) { return DeleteFileW(wpath(path).c_str()) != 0; }

bool changefolder(const std::string& path) { return _wchdir(wpath(path).c_str()) == 0; }

std::string currentfolder() { return tonarrow(fetchtext(GetCurrentDirectoryW)); }

bool isfolder(const std::string& path) {
  DWORD attributes = GetFileAttributesW(wpath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool isabsolute(const std::string& path) {
  return (path.size() >= 2 && path[1] == ':') || (!path.empty() && (path[0] == '\\' || path[0] == '/'));
}

std::string maketempfolder() {
  std::string base = tonarrow(temppath());
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    std::string path = base + "kelvane-" + std::to_string(GetCurrentProcessId()) + "-" +
                       std::to_string(GetTickCount64() + attempt);
    if (_wmkdir(wpath(path).c_str()) == 0) return path + "\\";
  }
  return {};
}

std::string ownexecutable() {
  std::u16string path(32768, u'\0');
  DWORD n = GetModuleFileNameW(nullptr, reinterpret_cast<wchar_t*>(path.data()), static_cast<DWORD>(path.size()));
  if (n == 0 || n >= path.size()) return {};
  path.resize(n);
  return tonarrow(path);
}

std::u16string temppath() { return fetchtext(GetTempPathW); }

std::u16string longname(const std::u16string& path) {
  const wchar_t* given = reinterpret_cast<const wchar_t*>(path.c_str());
  DWORD n = GetLongPathNameW(given, nullptr, 0);
  if (n == 0) return path;
  std::u16string buffer(n, u'\0');
  DWORD got = GetLongPathNameW(given, reinterpret_cast<wchar_t*>(buffer.data()), n);
  if (got == 0 || got >= n) return path;
  buffer.resize(got);
  return buffer;
}

}  // namespace kelvane::fs
