// Which entries of a package's setup archive the loader writes into the
// workspace, decided for each entry before anything is written for it.
//
// An entry is written only when its name begins with "setup\" (so it lands in
// the setup folder and nowhere else in the temporary folder), it is stored (0)
// or deflated (8) (minizip hands other methods over raw and unchecked), and it
// names no file or folder that an earlier entry named on Windows.
//
// "The same file on Windows" is judged on the name alone, the same way on
// every platform, so the decision never depends on what the disk holds:
// - letters are folded as Windows compares file names (foldname), and
//   trailing dots and spaces of each level are dropped, as Win32 drops them
//   ("QSETUP.EXE. " is "qSetup.exe");
// - a level shaped like a Windows short name with a "~digit" tail
//   ("SETUP~1", "QSETUP~1.EXE": at most 8 characters, a dot and at most 3)
//   is refused outright: it may be the short alias of another entry or of a
//   folder outside the setup folder, and which one only the disk could say.
//   Long names that merely hold a tilde ("my~1file-long.txt") are fine.
// Letters outside foldname's table are compared as they are: two entries
// that differ only in such a letter both pass, and on Windows the later one
// replaces the earlier one inside the setup folder.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kelvane {

class dataunzip;

enum class entryverdict {
  write,      // a new file or folder below "setup\"
  hostile,    // could leave the folder it is written under (splitentryname)
  outside,    // does not begin with "setup\"
  method,     // neither stored (0) nor deflated (8)
  shortname,  // a level shaped like a Windows short name ("QSETUP~1.EXE")
  samefile,   // names what an earlier entry named, on Windows
};

// What a refused entry's log line says about it.
const char* describe(entryverdict verdict);

// True for a level shaped like a Windows 8.3 short name with a "~digit" tail.
bool isshortname(const std::string& level);

// The entries of one setup archive, in archive order.
class setupentries {
 public:
  // Decides about the next entry (stored name in the ANSI code page, its
  // compression method) and remembers what an admitted one names.
  entryverdict admit(const std::string& stored, int method);

 private:
  std::map<std::u16string, bool> named_;  // Windows' form of each name met -> it is a folder
};

// Streams every entry of the open archive into its file below `folder`
// (UTF-8; the workspace), as setupentries allows. False as soon as one entry
// is lost: refused, unreadable, failing its size or CRC check, or not written
// whole. A lost entry leaves no file under its name, so the workspace never
// holds a truncated or corrupted file under a good name; the remaining
// entries are still extracted.
bool extractsetupentries(dataunzip& reader, const std::string& folder);

}  // namespace kelvane
