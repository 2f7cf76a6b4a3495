#include "package/filelist.h"

#include <algorithm>
#include <vector>

#include "common/log.h"
#include "package/datazip.h"
#include "platform/files.h"

namespace kelvane {

namespace {

bool isdotname(const std::string& name) { return name == "." || name == ".."; }

std::string uppercase(std::string name) {
  for (char& c : name)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return name;
}

// The archive's order, whatever order the listing came in: byte by byte
// after upper-casing, which is how Windows' file systems list a folder, and
// names equal in that form by their own bytes (only a case-sensitive file
// system holds both). Only ASCII letters are upper-cased, so the order never
// depends on a locale; other characters compare by code point.
bool archivedbefore(const fs::direntry& a, const fs::direntry& b) {
  std::string ua = uppercase(a.name), ub = uppercase(b.name);
  return ua != ub ? ua < ub : a.name < b.name;
}

}  // namespace

bool filelist::GetAllFileInfoAndZip(const std::string& folder, datazip& writer) {
  std::vector<fs::direntry> entries;
  if (!fs::listfolder(fs::nativepath(folder), entries)) {
    KLOG("filelist::GetAllFileInfoAndZip", "Cannot get handle for file %s\n", folder.c_str());
    return false;
  }
  archiveorder(entries);
  bool complete = true;
  for (const auto& entry : entries) {
    if (isdotname(entry.name)) continue;
    std::string path = folder + "\\" + entry.name;
    if (entry.folder && entry.link) {
      KLOG("filelist::GetAllFileInfoAndZip", "%s is a link to a folder: not followed\n", path.c_str());
      continue;
    }
    if (entry.folder) {
      complete = GetAllFileInfoAndZip(path, writer) && complete;
      path += "\\";
    }
    complete = writer.putfileinzip(path) && complete;
    if (!writer.progress()) KLOG("filelist::GetAllFileInfoAndZip", "%s\n", path.c_str());
  }
  return complete;
}

void filelist::archiveorder(std::vector<fs::direntry>& entries) {
  std::sort(entries.begin(), entries.end(), archivedbefore);
}

bool filelist::deletepath(std::string folder) {
  KLOG("filelist::deletepath", "path name is <%s>\n", folder.c_str());
  // Each level is looked at as it is reached, never from its parent's
  // listing: a folder swapped for a link since then is not followed.
  if (fs::kindof(folder) == fs::pathkind::link) {
    if (fs::removelink(folder)) return true;
    KLOG("filelist::deletepath", "%s is a link that cannot be removed without following it: left as it is\n",
         folder.c_str());
    return false;
  }
  std::vector<fs::direntry> entries;
  if (!fs::listfolder(folder, entries)) {
    KLOG("filelist::deletepath", "Cannot get handle for file %s%c*\n", folder.c_str(), fs::separator());
    return false;
  }
  for (const auto& entry : entries) {
    if (isdotname(entry.name)) continue;
    std::string path = folder + fs::separator() + entry.name;
    switch (fs::kindof(path)) {
      case fs::pathkind::folder:
      case fs::pathkind::link:  // the link itself goes, its target stays
        deletepath(path);
        break;
      case fs::pathkind::file:
        fs::removefile(path);
        break;
      case fs::pathkind::missing:
        break;
    }
  }
  fs::removefolder(folder);
  return true;
}

}  // namespace kelvane
