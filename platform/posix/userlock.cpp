#include "platform/userlock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/files.h"
#include "platform/text.h"

namespace kelvane::userlock {

struct lock {
  int file;
};

namespace {

// The holder writes its process id into the lock file it holds; the lock is
// taken whether or not the record could be written.
state record(lock* l) {
  std::string pid = std::to_string(getpid());
  if (ftruncate(l->file, 0) == 0) (void)!pwrite(l->file, pid.data(), pid.size(), 0);
  return state::taken;
}

}  // namespace

lock* open(const std::string& name) {
  std::string path = tonarrow(fs::temppath()) + name + ".lock";
  // Never through a link: one planted under the lock's name would make the
  // holder truncate and write whatever file it points to.
  int file = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (file < 0) return nullptr;
  return new lock{file};
}

void close(lock* l) {
  ::close(l->file);  // gives up the flock held through it
  delete l;
}

state trytake(lock* l) {
  if (flock(l->file, LOCK_EX | LOCK_NB) == 0) return record(l);
  return errno == EWOULDBLOCK ? state::held : state::failed;
}

state take(lock* l) {
  while (flock(l->file, LOCK_EX) != 0)
    if (errno != EINTR) return state::failed;
  return record(l);
}

unsigned long holder(lock* l) {
  char text[32] = {};
  if (pread(l->file, text, sizeof text - 1, 0) <= 0) return 0;
  return std::strtoul(text, nullptr, 10);
}

}  // namespace kelvane::userlock
