// File operations that need no system call of their own.
#include "platform/files.h"

namespace kelvane::fs {

std::int64_t filesize(std::FILE* file) {
  if (!seek(file, 0, SEEK_END)) return -1;
  std::int64_t size = tell(file);
  if (!seek(file, 0, SEEK_SET)) return -1;
  return size;
}

}  // namespace kelvane::fs
