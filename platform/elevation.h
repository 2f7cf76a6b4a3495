// What an elevated run needs from the system: whether this process has full
// rights, the system's random source and temporary folder, a folder that only
// administrators and the system may change, and the program's own path in a
// form an elevated process can open.
//
// Windows: elevated = the token's elevation (TokenElevation, an elevated
// administrator) or a service identity (SYSTEM, LocalService, NetworkService,
// or any token in the SERVICE group); never the integrity level.
// POSIX: elevated = effective user id 0.
#pragma once

#include <cstddef>
#include <string>

namespace kelvane::elevation {

bool elevated();

// Windows 11 and later: refuse to follow links that a process with fewer
// rights made (the redirection trust mitigation). Silently nothing where the
// system does not offer it or refuses.
void trustnoredirection();

// Fills `out` from the system's cryptographic random source; false on failure.
bool randombytes(unsigned char* out, std::size_t n);

// The temporary folder for a protected workspace, ending with a separator:
// GetTempPath2W where Windows has it (SYSTEM then gets its own protected
// folder), GetTempPathW elsewhere; the temporary folder on POSIX.
std::u16string systemtemppath();

// Creates the folder `path` in one step with the access described by `sddl`
// (Windows: owner, protected access list and all, so there is no moment in
// which it has another's). POSIX makes it mode 0700 instead. Anything that
// exists under the name, a link included, gives `exists` and is left alone;
// `error` then holds the system's error code.
enum class made { created, exists, failed };
made makeprotectedfolder(const std::u16string& path, const std::u16string& sddl, unsigned long& error);

// A full path as an elevated process can reach it: on a drive letter the
// user mapped to a network share, the share's UNC name ("\\server\share\..."),
// since an elevated process does not see the user's mapped drives; any
// other path as it is.
std::u16string reachablepath(const std::u16string& path);

// The running program's full path, reachable as above; empty when it cannot
// be found.
std::u16string programpath();

}  // namespace kelvane::elevation
