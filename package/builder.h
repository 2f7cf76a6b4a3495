// Builder mode: turns the current folder's "app" and "setup" into
// "install_test.exe": the stub with the loader icon (and the setup program's
// version resource, when it has one), the setup archive, the app archive and
// the 72-byte trailer that locates and digests them.
#pragma once

#include <cstdio>
#include <string>

#include "platform/ui.h"

namespace kelvane {

// `ownfile` is the stub, open for binary reading at its start; it is closed
// here. The package begins with the stub's image without a certificate table
// that signing may have appended, and with no security directory and no
// checksum: a package is written unsigned, ready to be signed. The two archives are first written as "test.zip" (app) and
// "qlib.zip" (setup) into `archivefolder` (ending with a separator), the
// temporary folder by default, where they stay after the build.
//
// Returns 0 when the package was written completely, -1 otherwise. A build
// never leaves a broken package behind: when a file cannot be archived
// completely, an archive cannot be written, the package would reach 2 GiB
// (the trailer holds 31-bit positions) or any write into it fails, the
// incomplete "install_test.exe" is removed. A missing "app" or "setup" folder
// is not a failure: its archive is simply empty.
int buildpackage(std::FILE* ownfile, const ui::monitor& screen);
int buildpackage(std::FILE* ownfile, const ui::monitor& screen, const std::string& archivefolder);

}  // namespace kelvane
