// Elevated runs, apart from the operating system.
//
// A loader with full rights (an elevated administrator, SYSTEM or another
// service) never works in the user's %TEMP%\setup, a folder any unelevated
// process of the user (or, for SYSTEM, any user at all) can fill with DLLs or
// links beforehand. It makes a new folder of its own under the system's
// temporary folder instead: a random name, made in one step with an access
// list that only Administrators and SYSTEM may change, and removed once the
// setup program has ended. Extraction, config.xml and uninstall.exe work there
// as they do in %TEMP%: the setup program runs from "<folder>\setup".
//
// A setup program that Windows starts only elevated (ERROR_ELEVATION_REQUIRED)
// is not started through the shell from %TEMP%\setup: the loader starts its
// own package again with the "runas" verb, with `relaunchmarker` first and
// the unattended values after it, and waits for that instance. The relaunched
// instance takes a protected folder whatever its token says (under wine, or
// should Windows not elevate it, it is not elevated but must still not touch
// the user's workspace), does not take the workspace lock that its parent
// holds, extracts again, sets KZQAUTOI and KZQPATHI itself from its arguments
// (Windows gives an elevated program a fresh environment) and starts the setup
// program with CreateProcessW. The marker can only send an instance to a
// protected folder of its own: it turns nothing off. How the exit codes of
// the two loaders fit together is decided in ending.h.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kelvane {

enum class workspacekind {
  usertemp,         // %TEMP%\setup, as every unelevated run
  protectedfolder,  // a new protected folder of this run's own
};

workspacekind chooseworkspace(bool elevated, bool relaunched);

// The relaunched instance's first argument.
inline constexpr char relaunchmarker[] = "--kelvane-elevated";

// What a relaunched instance is told after the marker: the values its setup
// program must see and whether its window stays hidden, as they were in the
// first loader. On its command line: "KZQAUTOI=<value>" and
// "KZQPATHI=<value>" for each value that was set, then "hidden" for an
// unattended run.
struct relaunchrequest {
  bool relaunched = false;
  std::optional<std::string> autoinstall;  // KZQAUTOI
  std::optional<std::string> installpath;  // KZQPATHI
  bool hidden = false;
};

// The arguments after the program's path for the relaunched instance.
std::vector<std::string> relaunchargs(const relaunchrequest& request);

// Reads the marker and what follows it from a loader's arguments (args[0]
// is the program); `relaunched` is false when args[1] is not the marker.
// Tokens it does not know are ignored.
relaunchrequest parserelaunch(const std::vector<std::string>& args);

// The protected folder's name: "kelvane-" and 32 hexadecimal digits of random
// bytes.
std::string protectedfoldername(const unsigned char random[16]);

// The protected folder's security descriptor in SDDL: owner Administrators;
// a protected access list (nothing inherited from the temporary folder) of
// full control for Administrators and for SYSTEM, inherited by every file
// and folder made inside (OICI). Nobody else may add, replace or redirect
// anything in it.
std::u16string protectedfolderaccess();

}  // namespace kelvane
