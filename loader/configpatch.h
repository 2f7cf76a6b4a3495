// The configuration patch: points the extracted "config.xml" of the setup
// program at the package it came from.
#pragma once

#include <string_view>

namespace kelvane {

// Sets attribute "path" of every "source" child of the root element of the
// workspace's setup\config.xml to the package's own path (ownpath), adding a
// "source" element as the root's first child when there is none, and saves
// the file in its own encoding.
void patchconfig();

// The same for a given file and value. A file that cannot be read, or has no
// root element, is left exactly as it is: never created, never truncated.
// True when the file was patched and saved.
bool patchconfig(std::u16string_view configpath, std::u16string_view packagepath);

}  // namespace kelvane
