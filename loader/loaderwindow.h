// Loader mode after the workspace reset: the window, the extraction worker and
// the hand-off to the setup program.
//
// On Windows the 580 x 54 popup "Kelvane" shows the splash while a worker
// thread extracts; the worker's WM_UNZIPDONE makes the window prepare
// "uninstall.exe", start "setup\qSetup.exe" and wait for it. Elsewhere the
// same steps run one after the other with no window.
#pragma once

namespace kelvane {

// Runs loader mode; `argc` counts the program's own arguments, argv[0]
// included. Returns the process exit code as decideending (ending.h) gives it
// from the extraction's outcome and the setup program's start and exit code;
// -1 when the window or the worker cannot be created.
int runloader(int argc);

// An unattended run keeps the window hidden: two or more arguments, or an
// inherited KZQAUTOI beginning with "1".
bool unattended(int argc);

}  // namespace kelvane
