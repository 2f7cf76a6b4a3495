// Files and folders by UTF-8 path. On Windows each call converts the path to
// UTF-16 and uses the wide API, so any character works; on POSIX paths are
// used as they are.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace kelvane::fs {

// The platform's folder separator: '\\' on Windows, '/' on POSIX.
char separator();

// Turns the backslash-separated names that archives and the loader use
// ("setup\qSetup.exe") into the platform's form.
std::string nativepath(std::string path);

std::FILE* openfile(const std::string& path, const char* mode);
bool seek(std::FILE* file, std::int64_t offset, int origin);  // 64-bit positions
std::int64_t tell(std::FILE* file);                            // -1 on failure
std::int64_t filesize(std::FILE* file);  // seeks to the end and back; -1 on failure
// The size of the file at `path`, without opening it (under wine a query that
// needs no server round trip); -1 for a folder or when it cannot be measured.
std::int64_t pathsize(const std::string& path);

struct direntry {
  std::string name;    // UTF-8; includes "." and ".." where the platform lists them
  bool folder = false;
  bool link = false;   // symbolic link, junction or other reparse point
};

// Lists a folder, in whatever order the platform gives. False when the folder
// cannot be listed.
bool listfolder(const std::string& path, std::vector<direntry>& entries);

bool makefolder(const std::string& path);    // true also when it exists as a folder
bool removefolder(const std::string& path);  // an empty folder, or a link to a folder (never its target)
bool removefile(const std::string& path);    // a file, or a link to a file

// What a path names, looked at now, without following a final link.
enum class pathkind { missing, file, folder, link };
pathkind kindof(const std::string& path);

// Removes a link (symbolic link, junction or any other reparse point) itself,
// never what it points to. On Windows it is opened as the link and deleted
// through that handle; where the system can only open the link's target
// (wine: a Unix symbolic link), it stays and the result is false.
bool removelink(const std::string& path);
bool changefolder(const std::string& path);
std::string currentfolder();                 // empty on failure
bool isfolder(const std::string& path);      // without following a final link

bool isabsolute(const std::string& path);
// `name` inside `folder`, or `name` itself when it is absolute.
std::string joinpath(const std::string& folder, const std::string& name);
// `path` made absolute against the current folder.
std::string absolutepath(const std::string& path);

// A new, empty folder of this process's own in the temporary folder, ending
// with a separator; empty when none can be made.
std::string maketempfolder();

// The running program's own file (Linux: /proc/self/exe; macOS: the loader's
// record; Windows: the module's file name); empty when it cannot be found.
std::string ownexecutable();

// The per-user temporary folder, ending with a separator; empty when the
// system reports none.
std::u16string temppath();

// An existing path in its long form ("C:\Users\ADMINI~1\" reads
// "C:\Users\Administrator\"), so that both spellings of one folder read the
// same; the path as given when it has none. On POSIX always the path as given.
std::u16string longname(const std::u16string& path);

}  // namespace kelvane::fs
