#include "resources/iconwriter.h"

namespace kelvane {

// Executables with resources are Windows programs: elsewhere the icon file is
// still read and checked, but nothing is written.
bool writeiconresources(const std::u16string&, const iconfile&, std::string& error) {
  error = "resource update is available on Windows only";
  return false;
}

}  // namespace kelvane
