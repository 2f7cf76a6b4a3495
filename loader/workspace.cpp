#include "loader/workspace.h"

#include "common/log.h"
#include "loader/elevatedrun.h"
#include "package/filelist.h"
#include "platform/elevation.h"
#include "platform/files.h"
#include "platform/text.h"

namespace kelvane {

namespace {
// Written once by takeprotectedworkspace, before the window and its threads.
std::u16string protectedroot;
}  // namespace

std::u16string widetemppath() { return protectedroot.empty() ? fs::temppath() : protectedroot; }

std::string narrowtemppath() { return tonarrow(widetemppath()); }

bool intitemp() {
  std::string path = narrowtemppath() + "setup";
  KLOG("intitemp", "delete path is <%s>\n", path.c_str());
  return filelist::deletepath(path);
}

bool takeprotectedworkspace() {
  std::u16string parent = elevation::systemtemppath();
  if (parent.empty()) {
    KLOG("takeprotectedworkspace", "the system names no temporary folder\n");
    return false;
  }
  // 128 random bits: a name that exists means someone made it on purpose;
  // a few more draws, then give up rather than loop.
  for (int attempt = 0; attempt < 8; ++attempt) {
    unsigned char random[16];
    if (!elevation::randombytes(random, sizeof random)) {
      KLOG("takeprotectedworkspace", "the system's random source fails\n");
      return false;
    }
    std::u16string folder = parent + towide(protectedfoldername(random));
    unsigned long error = 0;
    switch (elevation::makeprotectedfolder(folder, protectedfolderaccess(), error)) {
      case elevation::made::created:
        protectedroot = folder + static_cast<char16_t>(fs::separator());
        KLOG("takeprotectedworkspace", "workspace is <%s>\n", tonarrow(folder).c_str());
        return true;
      case elevation::made::exists:
        KLOG("takeprotectedworkspace", "<%s> exists already: drawing another name\n", tonarrow(folder).c_str());
        continue;
      case elevation::made::failed:
        KLOG("takeprotectedworkspace", "cannot make <%s> (error %lu)\n", tonarrow(folder).c_str(), error);
        return false;
    }
  }
  return false;
}

void releaseworkspace() {
  if (protectedroot.empty()) return;
  std::string folder = tonarrow(protectedroot.substr(0, protectedroot.size() - 1));
  KLOG("releaseworkspace", "removing <%s>\n", folder.c_str());
  filelist::deletepath(folder);
  protectedroot.clear();
}

}  // namespace kelvane
