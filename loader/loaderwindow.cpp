#include "loader/loaderwindow.h"

#include <cstdio>

namespace kelvane {

int runloader(int argc) {
  // Not built yet: the package reader and the configuration patch come first.
  std::fputs("loader mode is not available in this build\n", stdout);
  return -1;
}

}  // namespace kelvane
