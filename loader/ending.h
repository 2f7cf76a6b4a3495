// How a loader run ends once extraction is over: whether the user is told in
// a "Warnning" box, whether the setup program is started, and the loader's
// exit code. One decision for every platform and for both loaders of an
// elevated relaunch, so that it can be tested as one table.
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
//
// A first loader whose setup program needs elevation starts its package again
// elevated (elevatedrun.h) and waits for it. That instance decides as any
// run does (unattended when the first one was), except that it ends with
// `exitrelaunchnotstarted` where another run would end with -1. The first
// loader then ends attended with 0 when the setup program ran there and -1
// otherwise; unattended with the elevated instance's code as it is (the setup
// program's, or 24001 or 24002 from its own extraction), and -1 when the
// setup program never ran there.
#pragma once

namespace kelvane {

struct loaderoptions {
  bool hidden = false;      // unattended: the window is never shown
  bool relaunched = false;  // the elevated instance a first loader started
};

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
// The elevated instance's "cannot go on", read only by its first loader
// ("KV"). A setup program that itself ends with it counts as not run.
constexpr unsigned long exitrelaunchnotstarted = 0x4B560000;

// -1, or exitrelaunchnotstarted in the elevated instance.
int cannotgoon(const loaderoptions& run);

// How far the hand-off got.
enum class setuprun {
  nottried,  // the setup program has not been started (yet)
  failed,    // neither it nor an elevated instance could be started, or the user declined
  ran,       // it ran here and ended with `code`
  elevated,  // an elevated instance of the package ran in its place and ended with `code`
};

struct setupresult {
  setuprun how = setuprun::nottried;
  unsigned long code = 0;
};

struct ending {
  bool showbox = false;     // show the outcome's "Warnning" box; else it is only logged
  bool startsetup = false;  // start the setup program
  int exitcode = 0;         // the loader's exit code, given what `setup` says
};

// `run` as startup decided it; `outcome` of the extraction; `setup` once the
// start was tried. Before that (or when the window was closed before the
// hand-off) the exit code is the one of a run whose setup program never ran:
// 0 for an attended first loader, as always, else cannotgoon().
ending decideending(const loaderoptions& run, extraction outcome, setupresult setup = {});

}  // namespace kelvane
