// The two walks over a folder tree: archiving every file below a folder, and
// deleting a folder with everything below it. Both are depth-first; the
// archive walk takes each folder's entries in one fixed order (below), the
// delete walk in the platform's listing order.
#pragma once

#include <string>
#include <vector>

#include "platform/files.h"

namespace kelvane {

class datazip;

class filelist {
 public:
  // Hands every file below `folder` (relative, without a trailing separator)
  // to the writer as "folder\sub\name": entry names keep the backslash on
  // every platform. Each folder's entries go by name, compared byte by byte
  // after upper-casing ASCII letters, so the archive's bytes never depend on
  // the file system or the listing API. Links to folders are not descended into (so link cycles
  // cannot make the walk endless); links to files are archived as files.
  // True when the folder could be listed and every file was archived
  // completely; the walk goes on past failures either way.
  bool GetAllFileInfoAndZip(const std::string& folder, datazip& writer);

  // Deletes `folder` (a path in the platform's form) and everything below it.
  // No link is followed, at any level: a link (symbolic link, junction, any
  // reparse point), `folder` itself included, is removed itself and what it
  // points to stays. Each level is checked when it is reached, not from an
  // earlier listing. False when the folder cannot be listed, or is a link
  // that cannot be removed without following it (wine, see fs::removelink);
  // files that cannot be deleted stay, and so do the folders holding them.
  // Under wine a Unix symbolic link to a file looks like a plain file to
  // Windows programs (no reparse point), and deleting it removes its target:
  // no Windows program can tell, so there such links are not protected.
  static bool deletepath(std::string folder);

  // A folder's entries in the archive's order (above).
  static void archiveorder(std::vector<fs::direntry>& entries);
};

}  // namespace kelvane
