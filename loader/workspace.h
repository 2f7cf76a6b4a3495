// The workspace: the folder the loader extracts the setup archive into, whose
// "setup" folder then holds the setup program, config.xml and uninstall.exe.
// An unelevated run uses the per-user temporary folder; an elevated one (see
// elevatedrun.h) a protected folder of its own, chosen once at start-up
// before any other thread exists.
#pragma once

#include <string>

namespace kelvane {

// The workspace with its trailing separator: the protected folder once
// takeprotectedworkspace() has made one, else the temporary folder, fetched
// anew on each call. Empty when the system reports no temporary folder
// (callers then work in the current folder).
std::u16string widetemppath();
std::string narrowtemppath();  // the same folder as UTF-8 text

// Deletes the setup folder that an earlier run left in the workspace.
bool intitemp();

// Makes a new, randomly named folder under the system's temporary folder with
// the protected access list, in one step, and makes it the workspace. A name
// that exists is never reused: another one is drawn. False, with a log line,
// when no folder can be made; the run must then end, never fall back to the
// temporary folder.
bool takeprotectedworkspace();

// Removes the protected folder and everything in it, following no link; the
// workspace is the temporary folder again. Does nothing for the temporary
// folder, which the setup program may still use.
void releaseworkspace();

}  // namespace kelvane
