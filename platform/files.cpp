// File operations that need no system call of their own.
#include "platform/files.h"

namespace kelvane::fs {

std::int64_t filesize(std::FILE* file) {
  if (!seek(file, 0, SEEK_END)) return -1;
  std::int64_t size = tell(file);
  if (!seek(file, 0, SEEK_SET)) return -1;
  return size;
}

std::string joinpath(const std::string& folder, const std::string& name) {
  if (isabsolute(name) || folder.empty()) return name;
  char last = folder.back();
  return last == '/' || last == separator() ? folder + name : folder + separator() + name;
}

std::string absolutepath(const std::string& path) { return isabsolute(path) ? path : joinpath(currentfolder(), path); }

}  // namespace kelvane::fs
