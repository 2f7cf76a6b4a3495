// How a loader run ends once extraction is over: whether the user is told in
// a "Warnning" box, whether the setup program is started, and the loader's
// exit code. One decision for every platform, so that it can be tested as
// one table.
//
// Attended runs keep their long-standing behaviour: a box for a failed
// extraction or a digest mismatch, the setup program started after OK all
// the same, and 0 once it has run, whatever it returned.
//
// Unattended runs (deployment tools, often as SYSTEM in a session where no
// box can be seen or answered) never show a box: its text becomes a log line.
// They never install a damaged package, and they end with an exit code that
// says what happened: the setup program's own code when it ran, so 0, 1603,
// 3010, 1641 and the rest reach the tool unchanged, or one of the loader's
// own codes below. Those lie above every Windows system error code (0 to
// 15999, the codes Windows Installer and most setup programs return) and far
// below the 0x8xxxxxxx and 0xCxxxxxxx values of HRESULTs and crashes, so a
// tool can tell them from a setup program's.
#pragma once

namespace kelvane {

enum class extraction {
  complete,     // every entry written, both digests match
  failed,       // the package or an entry could not be read or written
  mismatch,     // extracted, but a digest differs from the trailer's
  noworkspace,  // the setup folder could not be made (a link or a file is in its place): nothing written there
};

// The loader's own exit codes for an unattended run that installs nothing.
constexpr int exitextractionfailed = 24001;  // failed, or no workspace
constexpr int exitdigestmismatch = 24002;
// Any run that cannot go on (no window, the setup program cannot be started,
// the own file cannot be opened, another attended installation is running).
constexpr int exitcannotgoon = -1;  // 0xFFFFFFFF, 4294967295 as tools show it

enum class setupstart {
  nottried,     // the setup program has not been started (yet)
  failed,       // starting it failed
  ran,          // it ran and ended with its exit code
};

struct ending {
  bool showbox = false;     // show the outcome's "Warnning" box; else it is only logged
  bool startsetup = false;  // start the setup program
  int exitcode = 0;         // the loader's exit code, given what `start` says
};

// `attended` as unattended() says; `outcome` of the extraction; `start` and
// `setupexit` once the start was tried (nottried before, or when not started).
ending decideending(bool attended, extraction outcome, setupstart start, unsigned long setupexit);

}  // namespace kelvane
