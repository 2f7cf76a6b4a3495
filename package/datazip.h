// The archive writer: one zip archive at a time, every file a deflated entry
// (level 9, no time stamp, no extra fields or comments), so archiving the same
// files twice gives the same bytes.
#pragma once

#include <cstdint>
#include <string>

namespace kelvane {

class datazip {
 public:
  explicit datazip(std::string name = {}) : name_(std::move(name)) {}
  ~datazip();
  datazip(const datazip&) = delete;
  datazip& operator=(const datazip&) = delete;

  void setzipname(std::string name) { name_ = std::move(name); }  // UTF-8 path of the next archive

  // Creates (or empties) the archive file. False when it cannot be created.
  bool zipfopen();
  // Writes the central directory and closes the file. False when that failed
  // or no archive was open; the handle is given up either way.
  bool closezipfile();

  // 1 when the file is too large for an entry without zip64 (4 GiB - 1 or
  // more) or cannot be measured, 0 otherwise; logs the size it measured.
  int isLargeFile(const std::string& path);

  // Adds the file at `path` (UTF-8, backslash-separated, relative to the
  // current folder) under that name without its leading separators. A path
  // ending in a separator is a folder: nothing is added and the result is
  // true. False when the entry could not be written completely: the name does
  // not fit the ANSI code page, the file is too large, unreadable or short,
  // or the archive refused a write.
  bool putfileinzip(const std::string& path);

  int lasterror() const { return lasterror_; }

 private:
  void* archive_ = nullptr;  // minizip zipFile
  std::string name_;
  int lasterror_ = 0;
  static constexpr int readbuffersize = 16384;
};

}  // namespace kelvane
