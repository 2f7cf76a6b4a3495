// What a package's folders may hold, checked before anything is archived.
//
// A Linux or macOS file system holds names that Windows cannot: two names in
// one folder that differ only in letter case, the device names ("CON",
// "aux.txt", "COM1", "LPT1.log"), the characters < > : " / \ | ? * and the
// controls 1 to 31, a trailing dot or space. A package holding one could not
// be extracted on Windows, or would be extracted wrongly, so the builder
// refuses such a tree and names every offending entry. Names must also be
// valid UTF-8 and fit the code page the archives store them in. Under wine
// or on Windows the same check finds case clashes in case-sensitive folders.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kelvane {

// Why `name` (one path component, UTF-8) cannot be a Windows file name, or
// empty when it can. Case clashes need the other names: see checktree.
std::string windowsnamefault(const std::string& name);

// Windows' case-insensitive form of a name, folded as `foldname` folds it
// (the same rule that tells which setup archive entries name one file). A
// name that is not valid UTF-8 is kept as it is.
std::string foldedcase(const std::string& name);

struct treereport {
  std::uint64_t files = 0;
  std::uint64_t bytes = 0;               // of the files, as listed
  std::vector<std::string> refused;      // "<path>: <reason>", in walk order
};

// Walks `folder` (relative to the current folder, as the archive walk takes
// it: "app", "setup") the way the archive walk does, links to folders not
// followed, and adds its files and what it refuses to `report`. Each name is
// checked as it would be stored in code page `codepage` (0: the system's ANSI
// code page). A missing folder adds nothing.
void checktree(const std::string& folder, unsigned codepage, treereport& report);

}  // namespace kelvane
