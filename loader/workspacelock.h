// One installation at a time in a workspace.
//
// Every package extracts into the same setup folder and deletes it first, so a
// loader must not start while another one works there. Before the workspace is
// reset, the loader takes a lock named after the setup folder and keeps it
// until its process ends; the system gives it up then, after a crash too.
// A loader that finds the lock held never touches the workspace: an unattended
// one (a deployment tool starting several packages) waits for the holder to
// end and then installs; an attended one (a user who started the package
// again) brings the running installation forward and ends with -1.
#pragma once

#include <string>
#include <string_view>

#include "platform/text.h"  // foldname

namespace kelvane {

// The lock's name for a folder: "Kelvane-workspace-" and the MD5 of the folded
// path's UTF-16 bytes in hex. Every spelling of one folder gives one name,
// always 50 characters long and free of backslashes.
std::string workspacelockname(std::u16string_view folder);

enum class workspaceaction {
  proceed,       // the lock is ours: reset the workspace and install
  wait,          // wait for the holder to end, then proceed
  bringforward,  // show the running installation and end with -1
};

workspaceaction decideworkspace(bool held, bool attended);

// Takes the lock on the setup folder for the rest of the process, waiting or
// bringing the holder forward as decideworkspace says. True when the loader may
// go on, false when it must end with -1. A lock that cannot be made at all is
// logged and the loader goes on, as it would without one.
bool takeworkspace(bool attended);

}  // namespace kelvane
