#include "platform/userlock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/files.h"
#include "platform/text.h"

namespace kelvane::userlock {

struct lock {
  std::string path;
  int file;  // -1 while the file is another's we may not open
};

namespace {

// The holder writes "<id> <start time>" into the lock file it holds; the lock
// is taken whether or not the record could be written.
state record(lock* l) {
  process me = currentprocess();
  std::string text = std::to_string(me.id) + " " + std::to_string(me.created);
  if (ftruncate(l->file, 0) == 0) (void)!pwrite(l->file, text.data(), text.size(), 0);
  return state::taken;
}

// A lock file we may not open (another user's) counts as held. Never opened
// through a link: one planted under the lock's name would make the holder
// truncate and write whatever file it points to.
bool reopen(lock* l) {
  if (l->file < 0) l->file = ::open(l->path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  return l->file >= 0;
}

// The process's start time in clock ticks since boot (field 22 of
// /proc/<id>/stat); 0 when it cannot be read.
unsigned long long starttime(unsigned long id) {
  std::ifstream in("/proc/" + std::to_string(id) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::size_t end = text.rfind(')');  // the name may hold spaces and parentheses
  if (end == std::string::npos) return 0;
  std::istringstream fields(text.substr(end + 1));
  std::string field;
  for (int i = 3; i <= 22 && fields >> field; ++i)
    if (i == 22) return std::strtoull(field.c_str(), nullptr, 10);
  return 0;
}

}  // namespace

lock* open(const std::string& name) {
  lock* l = new lock{tonarrow(fs::temppath()) + name + ".lock", -1};
  if (!reopen(l) && errno != EACCES) {
    delete l;
    return nullptr;
  }
  return l;
}

void close(lock* l) {
  if (l->file >= 0) ::close(l->file);  // gives up the flock held through it
  delete l;
}

state trytake(lock* l) {
  if (!reopen(l)) return errno == EACCES ? state::held : state::failed;
  if (flock(l->file, LOCK_EX | LOCK_NB) == 0) return record(l);
  return errno == EWOULDBLOCK ? state::held : state::failed;
}

state take(lock* l) {
  while (!reopen(l)) {
    if (errno != EACCES) return state::failed;
    usleep(250000);
  }
  while (flock(l->file, LOCK_EX) != 0)
    if (errno != EINTR) return state::failed;
  return record(l);
}

process holder(lock* l) {
  char text[64] = {};
  if (l->file < 0 || pread(l->file, text, sizeof text - 1, 0) <= 0) return {};
  char* rest = nullptr;
  process p;
  p.id = std::strtoul(text, &rest, 10);
  p.created = std::strtoull(rest, nullptr, 10);
  return p;
}

process currentprocess() {
  unsigned long id = static_cast<unsigned long>(getpid());
  return {id, starttime(id)};
}

bool stillrunning(const process& p) { return p.id && p.created && starttime(p.id) == p.created; }

}  // namespace kelvane::userlock
