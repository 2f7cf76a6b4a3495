// seticon ICON EXE: ReplaceExeIcon as a program, for the checks made on its
// result with a PE reader outside wine. Exit code 0 when it reports true.
#include <string>

#include "resources/icon.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  auto wide = [](const wchar_t* s) { return std::u16string(reinterpret_cast<const char16_t*>(s)); };
  return kelvane::ReplaceExeIcon(wide(argv[1]), wide(argv[2])) ? 0 : 1;
}
