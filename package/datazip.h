// The archive writer: one zip archive at a time, every file a deflated entry
// (level 9, no time stamp, no extra fields or comments), so archiving the same
// files twice gives the same bytes.
//
// Entries are compressed on worker threads, in blocks of a fixed size
// (deflatepool.h), and written into the archive in the order they were added;
// the bytes do not depend on the number of threads. A file of one block or
// less (by its size before opening) is opened, read and closed by the worker
// that compresses it; a larger one is read on the caller's thread, one block
// at a time. Only a fixed amount of data is in flight, so memory stays bounded
// whatever the files' sizes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace kelvane {

struct deflateblock;
enum class readstatus;

// Told of the files a build will archive, then of each entry as it is
// written into its archive, with its file's size, then of the end.
class archiveprogress {
 public:
  virtual ~archiveprogress() = default;
  virtual void begin(std::uint64_t files, std::uint64_t bytes) = 0;
  virtual void entrywritten(std::uint64_t bytes) = 0;
  virtual void end() = 0;
};

class datazip {
 public:
  explicit datazip(std::string name = {});
  ~datazip();
  datazip(const datazip&) = delete;
  datazip& operator=(const datazip&) = delete;

  void setzipname(std::string name) { name_ = std::move(name); }  // UTF-8 path of the next archive

  // The code page of the entry names stored from now on; 0 (the default) is
  // the system's ANSI code page, which is what the loader reads them with.
  void setcodepage(unsigned codepage) { codepage_ = codepage; }

  // With a progress listener the per-file log lines (sizes here, paths in the
  // tree walk) are left out: the listener shows the progress instead.
  void setprogress(archiveprogress* progress) { progress_ = progress; }
  archiveprogress* progress() const { return progress_; }

  // Worker threads for the next archive; 0 (the default) means one for each
  // processor the process may run on, at most 16.
  void setthreads(int threads) { threads_ = threads; }

  // Creates (or empties) the archive file. False when it cannot be created.
  bool zipfopen();
  // Writes the entries still in flight and the central directory, and closes
  // the file. False when any of that failed, an earlier entry could not be
  // written or its file could not be read, or no archive was open; the
  // handle is given up either way.
  bool closezipfile();

  // 1 when the file is too large for an entry without zip64 (4 GiB - 1 or
  // more) or cannot be measured, 0 otherwise; logs the size it measured.
  int isLargeFile(const std::string& path);

  // Adds the file at `path` (UTF-8, backslash-separated, relative to the
  // current folder) under that name without its leading separators. A path
  // ending in a separator is a folder: nothing is added and the result is
  // true. False when the entry could not be queued completely: the name does
  // not fit the code page, the file is too large, cannot be opened, fails to
  // read, or its size changes while it is read (its entry then ends after the
  // blocks read in full; a file that changes fails rather than being stored
  // with sizes that do not match its data). A file
  // of one block or less is opened and read on a worker, so its open or read
  // failure shows on a later call or at closezipfile, like a write failure:
  // entries are written as their blocks come back from the workers, and once
  // one failed every later call is false.
  bool putfileinzip(const std::string& path);

  int lasterror() const { return lasterror_; }

 private:
  struct pipeline;
  int islarge(const std::string& path, std::int64_t size);
  bool putlargefile(const std::string& path, const std::string& name);
  bool queueable(const std::string& name, std::string& stored);
  readstatus readentry(std::FILE* file, std::int64_t size);
  void submit(std::unique_ptr<deflateblock> block);
  void writeoldest();
  bool sourceread(const deflateblock& block, const std::string& name);
  void writefailed(int error);
  void readfailed(const std::string& path, bool changed);
  void markreadfailed();

  void* archive_ = nullptr;  // minizip zipFile
  std::string name_;
  int lasterror_ = 0;
  int threads_ = 0;
  unsigned codepage_ = 0;
  archiveprogress* progress_ = nullptr;
  bool writefailed_ = false;  // the open archive refused an entry or a write
  bool readfailed_ = false;   // a file could not be opened or read, or changed meanwhile
  std::unique_ptr<pipeline> pipeline_;
};

}  // namespace kelvane
