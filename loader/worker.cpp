#include "loader/worker.h"

#include <cstring>

#include "common/log.h"
#include "loader/configpatch.h"
#include "loader/startup.h"
#include "loader/workspace.h"
#include "package/dataunzip.h"
#include "package/setupentries.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform/ui.h"

namespace kelvane {

namespace {

bool samedigest(const char computed[33], const std::array<char, digestlength>& stored) {
  return std::memcmp(computed, stored.data(), digestlength) == 0;
}

}  // namespace

extraction extractsetup(const std::string& package) {
  // A setup folder of its own, never a link's target: the workspace reset
  // removes a link in its place, but where that is impossible (wine) the
  // link stays, and nothing may be written, patched or started through it.
  std::string workspace = narrowtemppath();
  std::string setupfolder = workspace + "setup";
  if (!fs::makefolder(setupfolder)) {
    KLOG("unzipthread", "the setup folder <%s> cannot be made, or a link is in its place: nothing is written\n",
         setupfolder.c_str());
    return extraction::noworkspace;
  }
  dataunzip reader;
  char setupdigest[33] = {};
  char appdigest[33] = {};
  bool opened = reader.unzipfopen(package, setupdigest, appdigest, workspace);
  bool whole = opened && extractsetupentries(reader, workspace);
  reader.closeunzipfile();
  patchconfig();
  // Digests that were never computed are not compared: a package that cannot
  // be opened is a failed extraction.
  if (!whole) return extraction::failed;
  const packagetrailer& stored = reader.trailer();
  if (!samedigest(setupdigest, stored.setup_digest) || !samedigest(appdigest, stored.app_digest))
    return extraction::mismatch;
  return extraction::complete;
}

std::u16string extractionmessage(extraction outcome) {
  switch (outcome) {
    case extraction::failed:
    case extraction::noworkspace: return u"Uncompress failed!";
    case extraction::mismatch: return u"MD5 is uncorrect!";
    case extraction::complete: break;
  }
  return {};
}

void unzipthread(const loaderoptions& run, const std::function<void()>& windowshown,
                 const std::function<void(extraction)>& handoff) {
  extraction outcome = extractsetup(ownpath());
  std::u16string message = extractionmessage(outcome);
  if (decideending(run, outcome).showbox) {
    windowshown();
    ui::warn(message);
  } else if (!message.empty()) {
    // Nobody may be there to press OK: the box's text goes to the log.
    KLOG("unzipthread", "unattended, no box: Warnning: %s\n", tonarrow(message).c_str());
  }
  handoff(outcome);
}

}  // namespace kelvane
