// Writes planned icon image resources into an executable: the one step of
// icon replacement that needs the operating system.
#pragma once

#include <string>

#include "resources/iconfile.h"

namespace kelvane {

// Each planned resource becomes RT_ICON <id>, language 1033 (English, United
// States), holding its image's bytes; every other resource stays. Either all
// of them are committed or the executable is left as it was. False, with a
// plain reason in `error`, when nothing was committed.
bool writeiconresources(const std::u16string& exepath, const iconplan& plan, std::string& error);

}  // namespace kelvane
