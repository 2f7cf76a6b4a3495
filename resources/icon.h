// Gives an executable the images of an icon file (.ico).
#pragma once

#include <string>

namespace kelvane {

// Writes the icon file's images into the executable as icon images numbered
// from 1 (see planiconresources in resources/iconfile.h for the numbering),
// leaving its icon group directory as it is: an executable whose directory
// refers to images 1 to 9, as the stub's does, then shows the new icon.
// Both paths are absolute or relative to the current folder.
//
// True only when the executable's resources were updated. A missing icon file
// prints "Open IconFile Failed!"; an icon file that is malformed, or that
// cannot be written, prints a line saying why; in every such case the
// executable is left byte for byte as it was.
bool ReplaceExeIcon(const std::u16string& iconpath, const std::u16string& exepath);

}  // namespace kelvane
