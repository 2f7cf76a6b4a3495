// The extraction worker: unpacks the running package's setup archive into the
// workspace, points the extracted "config.xml" at the package, and checks both
// archives against the digests in the package trailer.
#pragma once

#include <functional>
#include <string>

namespace kelvane {

enum class extraction {
  complete,  // every entry written, both digests match
  failed,    // the package or an entry could not be read or written
  mismatch,  // extracted, but a digest differs from the trailer's
};

// Extracts the setup archive of `package` (UTF-8 path) into the workspace,
// then patches the configuration. The configuration is patched whatever
// happened; digests are compared only when the extraction was complete.
extraction extractsetup(const std::string& package);

// The user's one message for an outcome ("Warnning" box text); empty for none.
std::u16string extractionmessage(extraction outcome);

// The worker thread's body: extraction, at most one "Warnning" box, then
// handoff(), which the worker waits for (the window runs the setup program).
// A box waits for windowshown() to return: the box never comes up before the
// window the user is watching.
void unzipthread(const std::function<void()>& windowshown, const std::function<void()>& handoff);

}  // namespace kelvane
