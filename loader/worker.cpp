#include "loader/worker.h"

#include <cstring>

#include "common/log.h"
#include "loader/configpatch.h"
#include "loader/startup.h"
#include "loader/workspace.h"
#include "package/dataunzip.h"
#include "platform/ui.h"

namespace kelvane {

namespace {

// Streams every entry of the open archive into its file below `folder`.
// False as soon as one entry is lost: unreadable, failing its size or CRC
// check, refused by name or not written whole. A lost entry leaves no file
// under its name, so the workspace never holds a truncated or corrupted file
// under a good name; the remaining entries are still extracted, so the setup
// program gets as far as it can.
bool extractentries(dataunzip& reader, const std::string& folder) {
  entrywriter writer(folder);
  bool whole = true;
  for (std::uint32_t i = 0; i < reader.count(); ++i) {
    std::string name;
    if (reader.entryname(name) != 0) {
      KLOG("unzipthread", "entry %u has no readable header\n", i);
      whole = false;
    } else if (!writer.begin(name)) {
      whole = false;
    } else {
      int read = reader.readentry([&writer](const char* data, std::size_t n) { return writer.write(data, n); });
      if (read != 0) KLOG("unzipthread", "entry %u cannot be read: <%s>\n", i, name.c_str());
      whole = writer.end(read == 0) && whole;
    }
    if (reader.nextfile(i) != 0) return false;
  }
  return writer.finish() && whole;  // the last files' closes
}

bool samedigest(const char computed[33], const std::array<char, digestlength>& stored) {
  return std::memcmp(computed, stored.data(), digestlength) == 0;
}

}  // namespace

extraction extractsetup(const std::string& package) {
  dataunzip reader;
  char setupdigest[33] = {};
  char appdigest[33] = {};
  std::string workspace = narrowtemppath();
  bool opened = reader.unzipfopen(package, setupdigest, appdigest, workspace);
  bool whole = opened && extractentries(reader, workspace);
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
    case extraction::failed: return u"Uncompress failed!";
    case extraction::mismatch: return u"MD5 is uncorrect!";
    case extraction::complete: break;
  }
  return {};
}

void unzipthread(const std::function<void()>& windowshown, const std::function<void()>& handoff) {
  std::u16string message = extractionmessage(extractsetup(ownpath()));
  if (!message.empty()) {
    windowshown();
    ui::warn(message);
  }
  handoff();
}

}  // namespace kelvane
