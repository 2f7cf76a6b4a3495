// Loader mode after the workspace reset: the window, the extraction worker and
// the hand-off to the setup program.
//
// On Windows the 580 x 54 popup "Kelvane" shows the splash while a worker
// thread extracts; the worker's WM_UNZIPDONE makes the window prepare
// "uninstall.exe", start "setup\qSetup.exe" and wait for it, answering the
// messages other programs send meanwhile. Elsewhere the same steps run one
// after the other with no window.
#pragma once

#include "loader/ending.h"

namespace kelvane {

// Runs loader mode. Returns the process exit code as decideending (ending.h)
// gives it from the extraction's outcome and how the hand-off went; a window
// or a worker that cannot be created counts as a setup program not started.
int runloader(const loaderoptions& options);

// An unattended run keeps the window hidden: two or more arguments, or an
// inherited KZQAUTOI beginning with "1".
bool unattended(int argc);

}  // namespace kelvane
