#include "resources/iconwriter.h"

#include <windows.h>

namespace kelvane {

namespace {

constexpr WORD englishus = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);  // 1033

}  // namespace

bool writeiconresources(const std::u16string& exepath, const iconplan& plan, std::string& error) {
  HANDLE update = BeginUpdateResourceW(reinterpret_cast<const wchar_t*>(exepath.c_str()), FALSE);
  if (!update) {
    error = "the executable's resources cannot be opened for update";
    return false;
  }
  for (const iconresource& r : plan.resources) {
    const std::vector<unsigned char>& image = plan.images[r.image];
    if (!UpdateResourceW(update, RT_ICON, MAKEINTRESOURCEW(r.id), englishus, const_cast<unsigned char*>(image.data()),
                         DWORD(image.size()))) {
      EndUpdateResourceW(update, TRUE);  // discard: the executable keeps its old icon whole
      error = "icon image " + std::to_string(r.id) + " cannot be written";
      return false;
    }
  }
  if (!EndUpdateResourceW(update, FALSE)) {
    error = "the resource update cannot be committed";
    return false;
  }
  return true;
}

}  // namespace kelvane
