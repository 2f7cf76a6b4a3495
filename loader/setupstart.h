// How the hand-off starts the setup program, apart from the operating system.
//
// Windows refuses CreateProcessW with ERROR_ELEVATION_REQUIRED for a program
// that must run elevated: one whose manifest asks for administrator rights,
// or a 32-bit program without a manifest that Windows' installer detection
// takes for a setup program (a name like "qSetup.exe" is enough). Such a
// program is started through the shell instead, which shows the consent
// prompt. The decision lives here so that it can be tested without Windows.
#pragma once

#include <string>

namespace kelvane {

// The system error codes the decision knows.
constexpr unsigned long startelevationrequired = 740;  // ERROR_ELEVATION_REQUIRED
constexpr unsigned long startcancelled = 1223;         // ERROR_CANCELLED: the user declined the prompt

// The two ways a platform can start a program with no arguments in the
// loader's current folder. Each returns 0 once the program runs (the
// implementation then holds what it needs to wait for it), or the system's
// error code.
class programstarter {
 public:
  virtual ~programstarter() = default;
  // A plain start that inherits the loader's environment and current folder.
  virtual unsigned long createprocess(const std::u16string& program) = 0;
  // A start through the shell, which lets Windows elevate the program.
  virtual unsigned long shellstart(const std::u16string& program) = 0;
};

// Starts `program`: a plain start first, then, only when that reports
// ERROR_ELEVATION_REQUIRED, one start through the shell. Returns 0 when the
// program runs, -1 (the loader's exit code) when it does not; each failure
// writes a log line with the error code.
int startsetupprogram(programstarter& starter, const std::u16string& program);

}  // namespace kelvane
