// A named lock shared by the processes of the user's session. One process
// holds it at a time, until that process ends: the system gives it up then,
// also when the process crashes or is killed.
//
// Windows: a mutex in the session's "Local\" namespace (an abandoned one counts
// as taken over), beside a small shared record of the holder's process id and
// creation time. An existing mutex is opened for waiting only (SYNCHRONIZE);
// one that this process may not even wait on (an elevated holder's, seen
// from an unelevated loader) counts as held, and is waited for by polling
// until it is gone or open to us.
// POSIX: flock on "<name>.lock" in the temporary folder, which also records
// the holder's process id and start time; the file is never inherited by
// child processes.
#pragma once

#include <string>

namespace kelvane::userlock {

struct lock;

// Opens or creates the lock `name` (letters, digits and '-'); null when it
// cannot be made. The loader never closes it: it holds it until it ends.
lock* open(const std::string& name);

// Gives the lock up, if taken (on the thread that took it), and frees it.
void close(lock* l);

enum class state { taken, held, failed };

state trytake(lock* l);  // taken or held at once
state take(lock* l);     // waits as long as another process holds it

// The latest process to take the lock: its id and its creation time, so that
// an id the system has since given to another process is not mistaken for it.
struct process {
  unsigned long id = 0;                 // 0 when no holder is recorded or readable
  unsigned long long created = 0;       // the system's own clock (Windows: FILETIME)
};
process holder(lock* l);

// The record for this process, as holder() reads it after a take.
process currentprocess();

// True when `p` still names the process that was recorded: the id exists and
// its creation time is the recorded one.
bool stillrunning(const process& p);

}  // namespace kelvane::userlock
