#include "loader/loaderwindow.h"

#include <cstdio>

#include "platform/environment.h"

namespace kelvane {

bool unattended(int argc) {
  if (argc > 2) return true;
  auto autoinstall = env::get("KZQAUTOI");
  return autoinstall && !autoinstall->empty() && (*autoinstall)[0] == '1';
}

// Until the package reader is in the tree the window and worker (win32/,
// posix/, worker.cpp) are not linked.
int runloader(int argc) {
  std::fputs("loader mode is not available in this build\n", stdout);
  return -1;
}

}  // namespace kelvane
