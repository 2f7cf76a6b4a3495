// The workspace: the per-user temporary folder, where the loader extracts the
// setup archive into its "setup" folder.
#pragma once

#include <string>

namespace kelvane {

// The temporary folder with its trailing separator, fetched anew on each call.
// Empty when the system reports none (callers then work in the current folder).
std::u16string widetemppath();
std::string narrowtemppath();  // the same folder as UTF-8 text

// Deletes the setup folder that an earlier run left in the workspace.
bool intitemp();

}  // namespace kelvane
