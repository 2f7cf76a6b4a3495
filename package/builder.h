// Builder mode: turns the current folder's "app" and "setup" into "install_test.exe".
#pragma once

#include <cstdio>

#include "platform/ui.h"

namespace kelvane {

// `ownfile` is the stub, open for binary reading at its start; it is closed
// here. Returns 0 when the package was written, -1 otherwise.
int buildpackage(std::FILE* ownfile, ui::screensize screen);

}  // namespace kelvane
