#include "loader/workspace.h"

#include "common/log.h"
#include "package/filelist.h"
#include "platform/files.h"
#include "platform/text.h"

namespace kelvane {

std::u16string widetemppath() { return fs::temppath(); }

std::string narrowtemppath() { return tonarrow(widetemppath()); }

bool intitemp() {
  std::string path = narrowtemppath() + "setup";
  KLOG("intitemp", "delete path is <%s>\n", path.c_str());
  return filelist::deletepath(path);
}

}  // namespace kelvane
