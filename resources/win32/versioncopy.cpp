#include <windows.h>

#include <cstdio>
#include <vector>

#include "platform/text.h"
#include "resources/version.h"

namespace kelvane {

namespace {

void say(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

const wchar_t* w(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

// A resource's name, a number or a text, and its language.
struct resourcekey {
  bool numbered = true;
  WORD id = 0;
  std::u16string text;
  WORD language = 0;
  const wchar_t* name() const { return numbered ? MAKEINTRESOURCEW(id) : w(text); }
};

BOOL CALLBACK addname(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR found) {
  resourcekey key;
  key.numbered = IS_INTRESOURCE(name);
  if (key.numbered)
    key.id = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(name));
  else
    key.text = reinterpret_cast<const char16_t*>(name);
  reinterpret_cast<std::vector<resourcekey>*>(found)->push_back(key);
  return TRUE;
}

BOOL CALLBACK addlanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR found) {
  reinterpret_cast<std::vector<WORD>*>(found)->push_back(language);
  return TRUE;
}

// Every version resource of a module, one key per name and language.
std::vector<resourcekey> versionresources(HMODULE module) {
  std::vector<resourcekey> names, keys;
  EnumResourceNamesW(module, RT_VERSION, addname, reinterpret_cast<LONG_PTR>(&names));
  for (const resourcekey& name : names) {
    std::vector<WORD> languages;
    EnumResourceLanguagesW(module, RT_VERSION, name.name(), addlanguage, reinterpret_cast<LONG_PTR>(&languages));
    for (WORD language : languages) {
      keys.push_back(name);
      keys.back().language = language;
    }
  }
  return keys;
}

// Resources only: no code of the file runs, nothing it imports is loaded.
HMODULE openresources(const std::u16string& path) {
  return LoadLibraryExW(w(path), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
}

// A relative path would be looked for along the DLL search path, not here.
std::u16string fullpath(const std::u16string& path) {
  std::u16string full(MAX_PATH, u'\0');
  for (;;) {
    DWORD n = GetFullPathNameW(w(path), DWORD(full.size()), reinterpret_cast<wchar_t*>(full.data()), nullptr);
    if (n == 0) return path;
    if (n < full.size()) return full.substr(0, n);
    full.resize(n);
  }
}

}  // namespace

bool CopyVersionResource(const std::u16string& frompath, const std::u16string& exepath) {
  const std::u16string from = fullpath(frompath), exe = fullpath(exepath);
  if (GetFileAttributesW(w(from)) == INVALID_FILE_ATTRIBUTES) return false;  // no setup program: nothing to take

  HMODULE source = openresources(from);
  if (!source) {
    say("Bad VersionResource: " + tonarrow(frompath) + " is not a program whose resources can be read");
    return false;
  }
  std::vector<resourcekey> found = versionresources(source);
  if (found.empty()) {
    FreeLibrary(source);
    return false;  // the package keeps the loader's own
  }
  HRSRC located = FindResourceExW(source, RT_VERSION, found.front().name(), found.front().language);
  HGLOBAL loaded = located ? LoadResource(source, located) : nullptr;
  const char* data = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
  std::string resource = data ? std::string(data, SizeofResource(source, located)) : std::string();
  FreeLibrary(source);
  std::string problem = data ? checkversionresource(resource) : "the version resource cannot be loaded";
  if (!problem.empty()) {
    say("Bad VersionResource: " + problem);
    return false;
  }

  // Written over the executable's own version resource, under its name and
  // language: a resource cannot be removed everywhere (wine keeps one that is
  // updated with no data), but it can always be replaced.
  HMODULE target = openresources(exe);
  std::vector<resourcekey> keys = target ? versionresources(target) : std::vector<resourcekey>();
  if (target) FreeLibrary(target);
  if (keys.empty()) keys.push_back(found.front());
  HANDLE update = BeginUpdateResourceW(w(exe), FALSE);
  if (!update) {
    say("Replace VersionResource Failed: the executable's resources cannot be opened for update");
    return false;
  }
  bool written = true;
  for (const resourcekey& k : keys)
    written = written && UpdateResourceW(update, RT_VERSION, k.name(), k.language, resource.data(),
                                         DWORD(resource.size()));
  if (!written) {
    EndUpdateResourceW(update, TRUE);  // discard: the executable keeps what it had
    say("Replace VersionResource Failed: the version resource cannot be written");
    return false;
  }
  if (!EndUpdateResourceW(update, FALSE)) {
    say("Replace VersionResource Failed: the resource update cannot be committed");
    return false;
  }
  return true;
}

}  // namespace kelvane
