// How the hand-off starts the setup program, apart from the operating system.
//
// The setup program is started directly (CreateProcessW, its quoted path as
// the whole command line, the loader's environment and current folder).
// Windows refuses that with ERROR_ELEVATION_REQUIRED for a program that must
// run elevated: one whose manifest asks for administrator rights, or a 32-bit
// program without a manifest that Windows' installer detection takes for a
// setup program (a name like "qSetup.exe" is enough). The loader then starts
// its own package again elevated (see elevatedrun.h) and waits for that
// instance, which starts the setup program from a protected folder. The shell
// never starts the setup program itself: from %TEMP%\setup it would run
// elevated beside whatever an unelevated process left there.
#pragma once

#include <string>
#include <vector>

namespace kelvane {

// The system error codes the decision knows.
constexpr unsigned long startelevationrequired = 740;  // ERROR_ELEVATION_REQUIRED
constexpr unsigned long startcancelled = 1223;         // ERROR_CANCELLED: the user declined the prompt

// The two starts a platform offers. Each returns 0 once the process runs (the
// implementation then holds what it needs to wait for it), or the system's
// error code.
class programstarter {
 public:
  virtual ~programstarter() = default;
  // The setup program, inheriting the loader's environment and current folder.
  virtual unsigned long createprocess(const std::u16string& program) = 0;
  // The loader's own package again, elevated, with these arguments after its path.
  virtual unsigned long relaunchelevated(const std::vector<std::string>& args) = 0;
};

enum class setupstart {
  started,     // the setup program runs: wait for it
  relaunched,  // an elevated instance of the package runs: wait for it
  failed,      // nothing runs
};

// Starts `program`: directly, then, only when that reports
// ERROR_ELEVATION_REQUIRED and this loader is not itself the relaunched
// instance, the package again elevated with the current KZQAUTOI and KZQPATHI
// and `hidden`. Each failure writes a log line with the error code; a declined
// prompt says so.
setupstart startsetupprogram(programstarter& starter, const std::u16string& program, bool relaunched, bool hidden);

}  // namespace kelvane
