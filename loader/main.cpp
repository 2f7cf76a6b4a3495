// The process entry: arguments as UTF-8, then start-up.
#include "loader/startup.h"
#include "platform/text.h"

#ifdef _WIN32
#include <windows.h>

// Wide entry point, so arguments outside the ANSI code page arrive intact.
int wmain(int argc, wchar_t** argv) {
  // A downloaded installer runs from a folder where anyone may have left a
  // DLL: take every DLL loaded from now on from the system folder only.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.push_back(kelvane::tonarrow(reinterpret_cast<const char16_t*>(argv[i])));
  return kelvane::startup(args);
}
#else
#include "loader/buildcommand.h"

// Natively the program is mostly the builder command; the loader's steps
// still run without a window for a package.
int main(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  return kelvane::isbuildcommand(args) ? kelvane::buildcommand(args) : kelvane::startup(args);
}
#endif
