#include "loader/workspacelock.h"

#include "common/log.h"
#include "package/datamd5.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform/ui.h"
#include "platform/userlock.h"

namespace kelvane {

namespace {

// Upper case of one letter in blocks where capitals and small letters pair up
// one below the other: the capital at an even code (or, if `oddcapital`, odd).
char16_t pairedupper(char16_t c, bool oddcapital) { return (c % 2 == 1) != oddcapital ? c - 1 : c; }

char16_t upper(char16_t c) {
  if (c == u'/') return u'\\';
  if (c >= u'a' && c <= u'z') return c - 0x20;
  if (c < 0xe0) return c;
  if (c <= 0xfe) return c == 0xf7 ? c : c - 0x20;  // Latin-1, less the division sign
  if (c == 0xff) return 0x178;
  if (c >= 0x100 && c <= 0x17f) {  // Latin Extended-A
    if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17f) return c;
    return pairedupper(c, (c >= 0x139 && c <= 0x148) || c >= 0x179);
  }
  if (c == 0x3ac) return 0x386;                              // Greek with tonos
  if (c >= 0x3ad && c <= 0x3af) return c - 0x25;
  if (c == 0x3c2) return 0x3a3;                              // final sigma
  if (c >= 0x3b1 && c <= 0x3cb) return c - 0x20;
  if (c == 0x3cc) return 0x38c;
  if (c == 0x3cd || c == 0x3ce) return c - 0x3f;
  if (c >= 0x430 && c <= 0x44f) return c - 0x20;             // Cyrillic
  if (c >= 0x450 && c <= 0x45f) return c - 0x50;
  if ((c >= 0x460 && c <= 0x481) || (c >= 0x48a && c <= 0x4bf) || (c >= 0x4d0 && c <= 0x52f))
    return pairedupper(c, false);
  if (c >= 0x4c1 && c <= 0x4ce) return pairedupper(c, true);
  if (c == 0x4cf) return 0x4c0;
  if (c >= 0xff41 && c <= 0xff5a) return c - 0x20;           // full-width Latin
  return c;
}

}  // namespace

std::u16string foldname(std::u16string_view name) {
  std::u16string folded(name);
  for (auto& c : folded) c = upper(c);
  return folded;
}

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
