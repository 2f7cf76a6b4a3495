#include "resources/iconwriter.h"

#include <windows.h>

#include <set>
#include <vector>

namespace kelvane {

namespace {

constexpr WORD englishus = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);  // 1033

const wchar_t* w(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

// A resource's name, a number or a text, and its language.
struct resourcekey {
  bool numbered = true;
  WORD id = 0;
  std::u16string text;
  WORD language = englishus;
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

BOOL CALLBACK firstlanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR found) {
  *reinterpret_cast<WORD*>(found) = language;
  return FALSE;  // the first is enough
}

// What the executable has: the identifiers its icon images use, and its
// first icon group (in the system's enumeration order, which is PE order).
struct iconresources {
  std::set<std::uint16_t> taken;
  resourcekey group;  // group 1, English, when there is none
};

// Resources only: no code of the file runs, nothing it imports is loaded.
bool readiconresources(const std::u16string& exepath, iconresources& out) {
  HMODULE module = LoadLibraryExW(w(exepath), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!module) return false;
  std::vector<resourcekey> images, groups;
  EnumResourceNamesW(module, RT_ICON, addname, reinterpret_cast<LONG_PTR>(&images));
  EnumResourceNamesW(module, RT_GROUP_ICON, addname, reinterpret_cast<LONG_PTR>(&groups));
  for (const resourcekey& k : images)
    if (k.numbered) out.taken.insert(k.id);
  out.group = resourcekey{true, 1, {}, englishus};
  if (!groups.empty()) {
    out.group = groups.front();
    EnumResourceLanguagesW(module, RT_GROUP_ICON, out.group.name(), firstlanguage,
                           reinterpret_cast<LONG_PTR>(&out.group.language));
  }
  FreeLibrary(module);
  return true;
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

bool writeiconresources(const std::u16string& exepath, const iconfile& icon, std::string& error) {
  const std::u16string exe = fullpath(exepath);
  iconresources existing;
  if (!readiconresources(exe, existing)) {
    error = "the executable's resources cannot be read";
    return false;
  }
  // New identifiers only: the old images cannot be removed everywhere, and
  // another group of the program may still name them.
  iconplan plan;
  if (!planicon(icon, existing.taken, plan, error)) return false;

  HANDLE update = BeginUpdateResourceW(w(exe), FALSE);
  if (!update) {
    error = "the executable's resources cannot be opened for update";
    return false;
  }
  const WORD language = existing.group.language;
  for (std::size_t i = 0; i < plan.ids.size(); ++i) {
    const std::vector<unsigned char>& image = icon.images[i];
    if (!UpdateResourceW(update, RT_ICON, MAKEINTRESOURCEW(plan.ids[i]), language,
                         const_cast<unsigned char*>(image.data()), DWORD(image.size()))) {
      EndUpdateResourceW(update, TRUE);  // discard: the executable keeps its old icon whole
      error = "icon image " + std::to_string(plan.ids[i]) + " cannot be written";
      return false;
    }
  }
  if (!UpdateResourceW(update, RT_GROUP_ICON, existing.group.name(), language, plan.group.data(),
                       DWORD(plan.group.size()))) {
    EndUpdateResourceW(update, TRUE);
    error = "the icon group cannot be written";
    return false;
  }
  if (!EndUpdateResourceW(update, FALSE)) {
    error = "the resource update cannot be committed";
    return false;
  }
  return true;
}

}  // namespace kelvane
