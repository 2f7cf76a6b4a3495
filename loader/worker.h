// The extraction worker: unpacks the running package's setup archive into the
// workspace, points the extracted "config.xml" at the package, and checks both
// archives against the digests in the package trailer.
#pragma once

#include <functional>
#include <string>

#include "loader/ending.h"

namespace kelvane {

// Extracts the setup archive of `package` (UTF-8 path) into the workspace's
// setup folder (entries as setupentries allows), then patches the
// configuration. The configuration is patched whatever happened, unless the
// setup folder could not be made as a folder of its own (noworkspace: a link
// that could not be removed is in its place, and nothing is written through
// it); digests are compared only when the extraction was complete.
extraction extractsetup(const std::string& package);

// The user's one message for an outcome ("Warnning" box text); empty for none.
std::u16string extractionmessage(extraction outcome);

// The worker thread's body: extraction; when attended, at most one
// "Warnning" box, when unattended its text as a log line instead; then
// handoff(outcome), which the worker waits for (the window decides with
// decideending whether to run the setup program). A box waits for
// windowshown() to return: the box never comes up before the window the user
// is watching.
void unzipthread(const loaderoptions& run, const std::function<void()>& windowshown,
                 const std::function<void(extraction)>& handoff);

}  // namespace kelvane
