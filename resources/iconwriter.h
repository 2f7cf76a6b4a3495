// Writes an icon file's images into an executable through the system's
// resource update functions: the one step of icon replacement that needs the
// operating system.
#pragma once

#include <string>

#include "resources/iconfile.h"

namespace kelvane {

// See ReplaceExeIcon (resources/icon.h) for what is written. Either all of it
// is committed or the executable is left as it was. False, with a plain
// reason in `error`, when nothing was committed.
bool writeiconresources(const std::u16string& exepath, const iconfile& icon, std::string& error);

}  // namespace kelvane
