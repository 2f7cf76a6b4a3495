// The example setup program that travels in the example package's setup
// archive. The loader starts it from the extracted "setup" folder; it reads
// "config.xml" beside itself, takes the package's path from the `path`
// attribute of `source` (the loader wrote it there), and installs the
// package's app archive, which it reads in place through the package trailer,
// into KZQPATHI or, when that is unset, %LOCALAPPDATA%\KelvaneExample.
// KZQAUTOI beginning with "1" means unattended: no closing message box. A
// desktop program, so no console window opens beside that box; the closing
// text also goes to standard output when the caller gave it one.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "package/peimage.h"
#include "unzip.h"

namespace {

std::wstring fromcodepage(const std::string& text, UINT codepage) {
  int n = MultiByteToWideChar(codepage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(n, L'\0');
  MultiByteToWideChar(codepage, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

std::wstring variable(const wchar_t* name) {
  wchar_t value[32768];
  DWORD n = GetEnvironmentVariableW(name, value, 32768);
  return n && n < 32768 ? std::wstring(value, n) : std::wstring();
}

std::string readfile(const std::wstring& path) {
  std::string bytes;
  if (FILE* in = _wfopen(path.c_str(), L"rb")) {
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, in)) > 0;) bytes.append(buffer, n);
    fclose(in);
  }
  return bytes;
}

std::string unescape(std::string text) {
  static const char* entities[][2] = {{"&quot;", "\""}, {"&apos;", "'"}, {"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}};
  for (auto& e : entities)
    for (size_t at; (at = text.find(e[0])) != std::string::npos;) text.replace(at, strlen(e[0]), e[1]);
  return text;
}

// The `path` attribute of the first `source` element of a UTF-8 document; a
// reader just good enough for the example's own configuration file.
std::wstring packagepath(const std::string& xml) {
  size_t element = xml.find("<source");
  if (element == std::string::npos) return {};
  size_t end = xml.find('>', element);
  std::string tag = xml.substr(element, end == std::string::npos ? std::string::npos : end - element);
  size_t attribute = tag.find(" path=");
  if (attribute == std::string::npos || attribute + 7 > tag.size()) return {};
  char quote = tag[attribute + 6];
  size_t close = tag.find(quote, attribute + 7);
  if (close == std::string::npos) return {};
  return fromcodepage(unescape(tag.substr(attribute + 7, close - attribute - 7)), CP_UTF8);
}

// A view of the package that holds only the app archive, for minizip.
struct archiveview {
  FILE* file;
  int64_t start, end, position;
};

voidpf viewopen(voidpf opaque, const void*, int) { return opaque; }
uLong viewread(voidpf, voidpf stream, void* buffer, uLong size) {
  auto* v = static_cast<archiveview*>(stream);
  int64_t left = v->end - v->position;
  if (left <= 0) return 0;
  if (static_cast<int64_t>(size) > left) size = static_cast<uLong>(left);
  if (_fseeki64(v->file, v->start + v->position, SEEK_SET) != 0) return 0;
  uLong got = static_cast<uLong>(fread(buffer, 1, size, v->file));
  v->position += got;
  return got;
}
uLong viewwrite(voidpf, voidpf, const void*, uLong) { return 0; }
ZPOS64_T viewtell(voidpf, voidpf stream) { return static_cast<archiveview*>(stream)->position; }
long viewseek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
  auto* v = static_cast<archiveview*>(stream);
  int64_t base = origin == ZLIB_FILEFUNC_SEEK_CUR ? v->position : origin == ZLIB_FILEFUNC_SEEK_END ? v->end - v->start : 0;
  int64_t target = base + static_cast<int64_t>(offset);
  if (target < 0 || target > v->end - v->start) return -1;
  v->position = target;
  return 0;
}
int viewclose(voidpf, voidpf) { return 0; }
int viewerror(voidpf, voidpf stream) { return ferror(static_cast<archiveview*>(stream)->file); }

uint32_t le32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

// "app\docs\readme.txt" -> "docs\readme.txt"; empty when the name is not a
// plain relative path below "app".
std::wstring installname(const std::wstring& entry) {
  const std::wstring prefix = L"app\\";
  if (entry.compare(0, prefix.size(), prefix) != 0 || entry.size() == prefix.size()) return {};
  std::wstring rest = entry.substr(prefix.size());
  size_t start = 0;
  while (true) {
    size_t end = rest.find(L'\\', start);
    std::wstring part = rest.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
    if (part.empty() || part == L"." || part == L".." || part.find_first_of(L":/") != std::wstring::npos) return {};
    if (end == std::wstring::npos) return rest;
    start = end + 1;
  }
}

bool writeentry(unzFile archive, const std::wstring& target) {
  for (size_t at = target.find(L'\\', 3); at != std::wstring::npos; at = target.find(L'\\', at + 1))
    CreateDirectoryW(target.substr(0, at).c_str(), nullptr);
  if (unzOpenCurrentFile(archive) != UNZ_OK) return false;
  FILE* out = _wfopen(target.c_str(), L"wb");
  bool good = out != nullptr;
  char buffer[65536];
  int n;
  while ((n = unzReadCurrentFile(archive, buffer, sizeof buffer)) > 0)
    if (good && fwrite(buffer, 1, n, out) != static_cast<size_t>(n)) good = false;
  if (n < 0) good = false;
  if (unzCloseCurrentFile(archive) != UNZ_OK) good = false;  // CRC mismatch
  if (out && fclose(out) != 0) good = false;
  return good;
}

// Installs every entry of the package's app archive below `folder`; -1 when
// the package or its app archive cannot be read, else the number of files.
int install(const std::wstring& package, const std::wstring& folder, int& failures) {
  FILE* file = _wfopen(package.c_str(), L"rb");
  if (!file) return -1;
  unsigned char trailer[72];
  int64_t size = kelvane::dataend(file);  // a signed package's certificate table follows its trailer
  archiveview view{file, 0, size - 72, 0};
  if (size < 72 || _fseeki64(file, size - 72, SEEK_SET) != 0 || fread(trailer, 1, 72, file) != 72) {
    fclose(file);
    return -1;
  }
  view.start = le32(trailer + 36);
  zlib_filefunc64_def functions{viewopen, viewread, viewwrite, viewtell, viewseek, viewclose, viewerror, &view};
  unzFile archive = view.start < view.end ? unzOpen2_64("app", &functions) : nullptr;
  if (!archive) {
    fclose(file);
    return -1;
  }
  CreateDirectoryW(folder.c_str(), nullptr);
  int installed = 0;
  for (int status = unzGoToFirstFile(archive); status == UNZ_OK; status = unzGoToNextFile(archive)) {
    char name[1024];
    unz_file_info64 info;
    if (unzGetCurrentFileInfo64(archive, &info, name, sizeof name, nullptr, 0, nullptr, 0) != UNZ_OK) break;
    std::wstring relative = installname(fromcodepage(name, CP_ACP));
    if (!relative.empty() && writeentry(archive, folder + L"\\" + relative))
      ++installed;
    else
      ++failures;
  }
  unzClose(archive);
  fclose(file);
  return installed;
}

}  // namespace

int wmain() {
  wchar_t self[MAX_PATH * 4];
  GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
  std::wstring config(self);
  config = config.substr(0, config.rfind(L'\\') + 1) + L"config.xml";
  std::wstring package = packagepath(readfile(config));

  std::wstring folder = variable(L"KZQPATHI");
  if (folder.empty()) folder = variable(L"LOCALAPPDATA") + L"\\KelvaneExample";
  while (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();

  int failures = 0;
  int installed = package.empty() ? -1 : install(package, folder, failures);
  std::wstring message = installed < 0 ? L"Cannot read the package <" + package + L">."
                                       : L"Installed " + std::to_wstring(installed) + L" files into " + folder +
                                             (failures ? L" (" + std::to_wstring(failures) + L" failed)" : L"") + L".";
  _putws(message.c_str());
  if (variable(L"KZQAUTOI").compare(0, 1, L"1") != 0)
    MessageBoxW(nullptr, message.c_str(), L"Kelvane example setup", MB_OK | MB_ICONINFORMATION);
  return installed < 0 || failures ? 1 : 0;
}
