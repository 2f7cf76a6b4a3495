// Loader mode after the workspace reset: the window, the extraction worker and
// the hand-off to the setup program. Returns the process exit code.
#pragma once

namespace kelvane {

int runloader(int argc);

}  // namespace kelvane
