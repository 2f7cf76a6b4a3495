// The native builder command: `kelvane build [FOLDER]` writes the package that
// the stub's builder mode would write in FOLDER, on any host, without wine or
// a display. A thin front over buildpackage (package/builder.h).
#pragma once

#include <string>
#include <vector>

namespace kelvane {

// Exit codes of the command.
enum buildexit : int {
  buildwritten = 0,   // the package was written
  buildfailed = 1,    // the build failed (a refused tree, a file that cannot be read, a failed write): no package
  buildusage = 2,     // the command line is wrong
  buildnostub = 3,    // the stub cannot be read or is not a bare stub
};

// True when `args` (args[0] the program) ask for the command or its help.
bool isbuildcommand(const std::vector<std::string>& args);

// Runs the command; returns one of buildexit.
int buildcommand(const std::vector<std::string>& args);

}  // namespace kelvane
