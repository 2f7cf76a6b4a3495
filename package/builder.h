// Builder mode: turns the current folder's "app" and "setup" into
// the package (by default "install_test.exe"): the stub with the loader icon (and the setup program's
// version resource, when it has one), the setup archive, the app archive and
// the 72-byte trailer that locates and digests them.
#pragma once

#include <cstdio>
#include <string>

#include "platform/ui.h"

namespace kelvane {

class archiveprogress;

// What builder mode builds from, and where to. Builder mode takes the
// defaults; the native build command sets them from its options.
struct buildoptions {
  std::string folder;                         // holds "app" and "setup"; empty: the current folder
  std::string output = "install_test.exe";    // the package, relative to `folder` unless absolute
  std::string archivefolder;                  // for "test.zip" and "qlib.zip", ending with a separator;
                                              // empty: the temporary folder
  unsigned codepage = 0;                      // of the names in the archives; 0: the system's ANSI code page
  archiveprogress* progress = nullptr;        // shown instead of a log line per file
};

// `ownfile` is the stub, open for binary reading at its start; it is closed
// here. The package begins with the stub's image as the portable resource
// writer leaves it (resources/packageresources.h): the loader icon and the
// setup program's version resource written in, no certificate table, no
// security directory, no checksum and none of the stub's zero padding; a
// package is written unsigned, ready to be signed. A stub whose image cannot
// be rewritten stops the build. The two archives are first written as "test.zip" (app) and
// "qlib.zip" (setup) into `archivefolder` (ending with a separator), the
// temporary folder by default, where they stay after the build.
//
// Returns 0 when the package was written completely, -1 otherwise. A build
// never leaves a broken package behind: when a file cannot be archived
// completely, an archive cannot be written, the package would reach 2 GiB
// (the trailer holds 31-bit positions) or any write into it fails, the
// incomplete "install_test.exe" is removed. A missing "app" or "setup" folder
// is not a failure: its archive is simply empty.
//
// Before anything is written, both folders are checked (treecheck.h): a tree
// with names that Windows cannot hold or the code page cannot store is
// refused, every such name listed, and no package is written. While it runs
// the builder works inside `folder` (the process's current folder).
int buildpackage(std::FILE* ownfile, ui::screensize screen, const buildoptions& options = {});

}  // namespace kelvane
