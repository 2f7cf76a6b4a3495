// Loader mode after the workspace reset: the window, the extraction worker and
// the hand-off to the setup program.
//
// On Windows the 580 x 54 popup "Kelvane" shows the splash while a worker
// thread extracts; the worker's WM_UNZIPDONE makes the window prepare
// "uninstall.exe", start "setup\qSetup.exe" and wait for it, answering the
// messages other programs send meanwhile. Elsewhere the same steps run one
// after the other with no window.
#pragma once

namespace kelvane {

struct loaderoptions {
  bool hidden = false;      // unattended: the window is never shown
  bool relaunched = false;  // the elevated instance a first loader started
};

// How the hand-off ended.
struct handoffoutcome {
  enum { notstarted, ran, elevated } how = notstarted;
  unsigned long code = 0;  // the setup program's, or the elevated instance's, exit code
};

// The loader's exit code for a hand-off. A first loader: 0 once the setup
// program ran (whatever its exit code), -1 when it could not be started, the
// elevated instance's verdict (firstloaderexit) when one was started. The
// relaunched instance: relaunchedexit, the convention its first loader reads.
int loaderexit(const handoffoutcome& outcome, bool relaunched);

// Runs loader mode. Returns the process exit code (loaderexit); a window or a
// worker that cannot be created counts as a setup program not started, a close
// request before the hand-off as a run that ended (0).
int runloader(const loaderoptions& options);

// An unattended run keeps the window hidden: two or more arguments, or an
// inherited KZQAUTOI beginning with "1".
bool unattended(int argc);

}  // namespace kelvane
