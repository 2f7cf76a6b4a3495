#include "loader/workspacelock.h"

#include "common/log.h"
#include "package/datamd5.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform/ui.h"
#include "platform/userlock.h"

namespace kelvane {

std::string workspacelockname(std::u16string_view folder) {
  std::u16string folded = foldname(folder);
  std::string bytes;  // UTF-16LE, the same on every platform
  for (char16_t c : folded) {
    bytes += static_cast<char>(c & 0xff);
    bytes += static_cast<char>(c >> 8);
  }
  char digest[33];
  datamd5().buffermd5(bytes.data(), static_cast<std::int64_t>(bytes.size()), digest);
  return std::string("Kelvane-workspace-") + digest;
}

workspaceaction decideworkspace(bool held, bool attended) {
  if (!held) return workspaceaction::proceed;
  return attended ? workspaceaction::bringforward : workspaceaction::wait;
}

bool takeworkspace(bool attended) {
  // The temporary folder may be named in its short form ("ADMINI~1") by one
  // program and in its long form by another.
  // Named after the user's setup folder in every run, also an elevated one
  // that works in a protected folder of its own: one installation at a time.
  std::u16string folder = fs::longname(fs::temppath()) + u"setup";
  // Kept, and with it the lock, until the process ends.
  static userlock::lock* lock = userlock::open(workspacelockname(folder));
  userlock::state state = lock ? userlock::trytake(lock) : userlock::state::failed;
  if (state == userlock::state::failed) {
    KLOG("takeworkspace", "cannot lock the workspace <%s>; going on without the lock\n", tonarrow(folder).c_str());
    return true;
  }
  switch (decideworkspace(state == userlock::state::held, attended)) {
    case workspaceaction::proceed:
      return true;
    case workspaceaction::wait:
      KLOG("takeworkspace", "the workspace is in use by process %lu: waiting until it ends\n", userlock::holder(lock).id);
      if (userlock::take(lock) == userlock::state::failed)
        KLOG("takeworkspace", "cannot wait for the workspace; going on without the lock\n");
      return true;
    case workspaceaction::bringforward: {
      userlock::process holder = userlock::holder(lock);
      bool shown = ui::bringforward(holder);
      KLOG("takeworkspace", "the workspace is in use by process %lu: %s, ending\n", holder.id,
           shown ? "brought its window forward" : "it shows no window");
      return false;
    }
  }
  return false;
}

}  // namespace kelvane
