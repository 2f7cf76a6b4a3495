// Start-up and mode selection. `args` are the UTF-8 command-line arguments,
// args[0] being the program's own path as it was started.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace kelvane {

// The package's own path: args[0] exactly as received; set once at start-up.
const std::string& ownpath();

// Hands the first two arguments after the program to the setup program through
// KZQAUTOI and KZQPATHI: both when there are two or more, neither otherwise.
void passarguments(const std::vector<std::string>& args);

// True when the open own file is the bare stub: exactly the stub's size, not
// counting a certificate table that signing appended. Leaves the file at its start.
bool isstub(std::FILE* ownfile);

// Sets KZQAUTOI and KZQPATHI from args[1] and args[2] (or, in an instance
// relaunched elevated, from what follows its marker: see elevatedrun.h),
// starts the picture library, then runs the builder when the own file is the
// bare stub and the loader otherwise: once it holds the workspace lock (see
// workspacelock.h; a relaunched instance's first loader holds it), in
// %TEMP%\setup when unelevated, else in a protected folder of its own that it
// removes at the end. Returns the process exit code: the builder's 0 or -1, or
// the loader's (ending.h).
int startup(const std::vector<std::string>& args);

}  // namespace kelvane
