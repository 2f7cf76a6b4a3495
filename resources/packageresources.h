// The resources a package gets, written by our own PE resource writer
// (resources/peresources.h) on every host, so that the same stub and folders
// give the same package bytes everywhere.
#pragma once

#include <string>
#include <vector>

#include "resources/peresources.h"

namespace kelvane {

// Rewrites the stub's unsigned image in memory:
// - with `ico` (an .ico file's bytes): the stub's first icon group (by PE
//   order; under its name and language) becomes a directory of exactly the
//   .ico's images, stored under that language as RT_ICON 1..n (the lowest
//   numbers no other group still names); the stub's icon images that no
//   group refers to any more are dropped (all stay when another group cannot
//   be read). A stub without an icon group gets group 1, language 1033.
// - with `versionsource` (a program's bytes, any PE layout): that program's
//   first version resource takes the place of every version resource of the
//   stub, under the stub's names and languages (under its own when the stub
//   has none). A program without one changes nothing.
// Every other resource stays byte for byte. See writeresources for the image
// that results (it ends with its last section).
//
// False, with a plain reason and the image untouched, when the stub, the
// icon file or the program's version resource cannot be used.
bool setpackageresources(std::vector<unsigned char>& image, const std::vector<unsigned char>* ico,
                         const std::vector<unsigned char>* versionsource, std::string& error);

// The first version resource of a program, in PE order. True with `found`
// false when it has none; false with a reason when the program's resources
// cannot be read or its version resource is not a whole VS_VERSIONINFO.
bool findversionresource(const std::vector<unsigned char>& program, resource& version, bool& found,
                         std::string& error);

// Builder mode's resource step on the stub's image, reading the icon file and
// the setup program at the given paths and saying what it does not use:
// "Open IconFile Failed!" (no icon file) or "Bad IconFile: <why>" and the
// package keeps the stub's icon; "Bad VersionResource: <why>" and it keeps
// the stub's version resource. A missing setup program is no message. False
// only when the stub's own image cannot be rewritten (`error` says why):
// there is then no package to write.
bool preparepackageimage(std::vector<unsigned char>& image, const std::string& iconpath,
                         const std::string& setupprogram, std::string& error);

}  // namespace kelvane
