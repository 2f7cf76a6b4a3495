// Gives an executable the images of an icon file (.ico).
#pragma once

#include <string>

namespace kelvane {

// Gives the executable the icon file's images through the system's resource
// update: each image under a new icon identifier that no image of the
// executable uses yet, and its first icon group (under its name and language;
// group 1, language 1033, when it has none) replaced by a directory of exactly
// those images (see resources/iconfile.h). Its old images stay, unreferenced:
// a resource removed through the update functions is not removed everywhere
// (wine keeps it). Used for "uninstall.exe", a copy of the vendor's setup
// program of any layout; packages get their icon from setpackageresources.
// Both paths are absolute or relative to the current folder.
//
// True only when the executable's resources were updated. A missing icon file
// prints "Open IconFile Failed!"; an icon file that is malformed, or that
// cannot be written, prints a line saying why; in every such case the
// executable is left byte for byte as it was.
bool ReplaceExeIcon(const std::u16string& iconpath, const std::u16string& exepath);

}  // namespace kelvane
