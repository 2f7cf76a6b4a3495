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

// Writes every entry of the open archive below `folder`. False as soon as one
// entry is lost: unreadable, failing its CRC, refused by name or not written
// whole. A damaged entry is not written at all, so the workspace never holds a
// truncated or corrupted file under a good name; the remaining entries are
// still extracted, so the setup program gets as far as it can.
bool extractentries(dataunzip& reader, const std::string& folder) {
  bool whole = true;
  for (std::uint32_t i = 0; i < reader.count(); ++i) {
    std::string name, data;
    if (reader.fileread(name, data) != 0) {
      KLOG("unzipthread", "entry %u cannot be read: <%s>\n", i, name.c_str());
      whole = false;
    } else if (!dataunzip::filewrite(data, name, folder)) {
      whole = false;
    }
    if (reader.nextfile(i) != 0) return false;
  }
  return whole;
}

bool samedigest(const char computed[33], const std::array<char, digestlength>& stored) {
  return std::memcmp(computed, stored.data(), digestlength) == 0;
}

}  // namespace

extraction extractsetup(const std::string& package) {
  dataunzip reader;
  char setupdigest[33] = {};
  char appdigest[33] = {};
  bool opened = reader.unzipfopen(package, setupdigest, appdigest);
  bool whole = opened && extractentries(reader, narrowtemppath());
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
