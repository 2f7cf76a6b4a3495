// The package reader: finds both archives through the trailer, digests them,
// and extracts the setup archive's entries where it lies inside the package.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "package/layout.h"

struct unz_file_info64_s;

namespace kelvane {

struct streamview;

// Splits a stored entry name (ANSI code page) into its folder levels, at the
// backslash and at the slash, which Windows also takes for a separator. A
// trailing separator marks a folder entry (isfolder). False for a name that
// could leave the folder it is written under: an empty, "." or ".." level
// (so no leading separator), a colon anywhere (drive letters, streams), a
// Windows device name (CON, NUL, COM1, LPT1, ..., also with an extension) as
// any level, a control character, 512 bytes or more, or bytes the code page
// does not hold. The levels are UTF-8.
bool splitentryname(const std::string& stored, std::vector<std::string>& levels, bool& isfolder);

// Receives an entry's data as it is inflated, one chunk at a time; false
// stops the entry there.
using chunksink = std::function<bool(const char* data, std::size_t n)>;

// Writes entries below one folder, each streamed in chunks: begin, write as
// the data comes, end. An entry that fails (a refused name, a write that
// fails, data the reader found damaged) leaves no file under its name: it is
// written under its own name and removed again, which costs nothing on the
// path that succeeds. Each folder is made (and checked not to be a link) once.
class entrywriter {
 public:
  explicit entrywriter(std::string folder);  // UTF-8; the current folder when empty
  ~entrywriter();                            // an entry still open is removed
  entrywriter(const entrywriter&) = delete;
  entrywriter& operator=(const entrywriter&) = delete;

  // Checks the stored name (ANSI code page, see splitentryname), makes its
  // folders and creates its file (a folder entry "dir\" only makes folders).
  bool begin(const std::string& stored);
  bool write(const char* data, std::size_t n);
  // Ends the entry. True when it is on disk whole: `whole` (the reader's
  // verdict) and every write succeeded; otherwise its file is removed. A
  // whole entry's file is closed by a second thread meanwhile: under wine a
  // close waits for the server as long as a create, and the two overlap.
  bool end(bool whole);
  // Waits until every file is closed. False when a close failed: that file
  // was removed. Called by the destructor too.
  bool finish();

 private:
  struct closer;
  void draincloser();

  bool makefolders(const std::vector<std::string>& levels, std::size_t count, std::string& path);
  void discard();

  std::string folder_;
  std::set<std::string> made_;  // folders known to exist below folder_
  std::unique_ptr<closer> closer_;  // started with the first whole file
  bool closesok_ = true;             // no close has failed since the last finish
  std::FILE* file_ = nullptr;
  std::string path_;            // the open entry's file
  std::string stored_;
  bool isfolder_ = false;
  bool failed_ = false;
};

class dataunzip {
 public:
  dataunzip();
  ~dataunzip();  // closes what is still open
  dataunzip(const dataunzip&) = delete;
  dataunzip& operator=(const dataunzip&) = delete;

  // Opens the package at `path` (UTF-8), reads its trailer, digests both
  // archive ranges into setupout and appout (33 bytes each), opens the setup
  // archive in place and makes the workspace the current folder. True when
  // all of that succeeded; on false nothing is open and the digests are empty.
  // The trailer is the 72 bytes before the end of the package's data, which
  // is the end of the file unless the package was signed (see peimage.h).
  // It is trusted only as far as it describes ranges inside that data
  // (setup_offset <= app_offset <= data end - 72); any other package, and
  // one with no zip archive ending at app_offset, is refused. Digests read
  // only the nine samples of each range, whatever its size. The workspace is
  // the temporary folder unless `workspace` names another folder.
  bool unzipfopen(const std::string& path, char setupout[33], char appout[33], const std::string& workspace = {});

  std::uint32_t count() const { return count_; }  // entries of the setup archive
  const packagetrailer& trailer() const { return trailer_; }

  // Reads the current entry: its stored name (ANSI code page, backslashes) and
  // its whole inflated data. 0 when the entry was read completely (as many
  // bytes as its size says) and passed its CRC check; -1 or a negative
  // minizip code otherwise (UNZ_CRCERROR, -105, with the data delivered). An
  // entry whose local header gives another name length than its central
  // record is accepted; its data follows the local header's own name.
  int fileread(std::string& name, std::string& data);

  // The same in two steps, for entries of any size: entryname gives the
  // current entry's stored name (0, or -1); readentry streams its data to
  // `sink` in chunks of at most chunksize bytes, checking its size and CRC as
  // it passes, and returns as fileread does (-1 also when the sink refused).
  // Memory stays at a few chunks whatever the entry's size.
  static constexpr std::size_t chunksize = 256 * 1024;
  // readentry refuses (-1) an entry stored with a method other than 0
  // (stored) or 8 (deflated): minizip would hand its bytes over raw, with no
  // CRC check. entrymethod is the method of the entry entryname read.
  int entryname(std::string& name);
  int entrymethod() const;
  int readentry(const chunksink& sink);

  // Writes one entry below `folder` (UTF-8; the current folder when empty),
  // creating the folders its backslash-separated name needs. The name is in
  // the ANSI code page as stored; names that would leave the folder are
  // refused (see splitentryname). True when the whole file was written; a
  // folder entry ("dir\") only creates its folders. A given folder is the
  // current folder afterwards. A file that cannot be written whole is removed.
  static bool filewrite(const std::string& data, const std::string& name, const std::string& folder);

  // Moves to the entry after index i (none after the last): 0, or -1.
  int nextfile(std::uint32_t i);

  // Closes the archive and the package and restores the current folder.
  void closeunzipfile();

 private:
  bool readtrailer();
  bool opensetup();
  bool digest(char setupout[33], char appout[33]);
  bool enterworkspace(const std::string& workspace);
  int readmismatched(const chunksink& sink);

  std::FILE* package_ = nullptr;
  std::unique_ptr<streamview> view_;  // the package up to app_offset, as minizip sees it
  std::int64_t trailerposition_ = 0;
  void* archive_ = nullptr;  // minizip unzFile
  std::unique_ptr<unz_file_info64_s> current_;  // the entry entryname read
  std::vector<char> chunk_;                     // readentry's buffer, kept between entries
  std::string savedfolder_;
  packagetrailer trailer_;
  std::uint32_t count_ = 0;
};

}  // namespace kelvane
