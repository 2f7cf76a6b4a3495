#include "platform/elevation.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/files.h"
#include "platform/text.h"

namespace kelvane::elevation {

bool elevated() { return geteuid() == 0; }

void trustnoredirection() {}

bool randombytes(unsigned char* out, std::size_t n) {
  int file = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (file < 0) return false;
  std::size_t got = 0;
  while (got < n) {
    ssize_t r = read(file, out + got, n - got);
    if (r <= 0 && errno != EINTR) break;
    if (r > 0) got += static_cast<std::size_t>(r);
  }
  ::close(file);
  return got == n;
}

std::u16string systemtemppath() { return fs::temppath(); }

made makeprotectedfolder(const std::u16string& path, const std::u16string&, unsigned long& error) {
  // mkdir never follows a final link and fails on anything that exists.
  if (mkdir(tonarrow(path).c_str(), 0700) == 0) return made::created;
  error = static_cast<unsigned long>(errno);
  return errno == EEXIST ? made::exists : made::failed;
}

std::u16string reachablepath(const std::u16string& path) { return path; }

std::u16string programpath() {
  char path[PATH_MAX + 1];
  ssize_t n = readlink("/proc/self/exe", path, PATH_MAX);
  return n > 0 ? towide(std::string(path, static_cast<std::size_t>(n))) : std::u16string();
}

}  // namespace kelvane::elevation
