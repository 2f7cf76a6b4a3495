// Gives an executable the images of an icon file (.ico).
#pragma once

#include <string>

namespace kelvane {

// Writes the icon file's images into the executable as icon images numbered
// from 1. True only when the executable's resources were updated.
bool ReplaceExeIcon(const std::u16string& iconpath, const std::u16string& exepath);

}  // namespace kelvane
