// The version resource a package carries: the setup program's, when it has
// one, so that Windows shows the vendor's product and not the loader.
#pragma once

#include <string>
#include <string_view>

namespace kelvane {

// Whether `resource` holds a version resource Windows can read: a
// VS_VERSIONINFO block that fits in the bytes given. Empty when it does,
// otherwise why not.
std::string checkversionresource(std::string_view resource);

// Writes the version resource of the program `frompath` (its first, when it
// has several languages) into the executable `exepath`, byte for byte, in
// place of the executable's own: under that one's name and language.
// Everything else in the executable stays. A program without a version resource (or no program at all) leaves
// the executable as it is, silently; one whose version resource cannot be
// read, or an executable that cannot be updated, prints a line saying why and
// leaves it as it is too. True only when the resource was written.
bool CopyVersionResource(const std::u16string& frompath, const std::u16string& exepath);

}  // namespace kelvane
