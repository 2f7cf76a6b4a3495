// A named lock shared by the processes of the user's session. One process
// holds it at a time, until that process ends: the system gives it up then,
// also when the process crashes or is killed.
//
// Windows: a mutex in the session's "Local\" namespace (an abandoned one counts
// as taken over), beside a small shared record of the holder's process id.
// POSIX: flock on "<name>.lock" in the temporary folder, which also records
// the holder's process id; the file is never inherited by child processes.
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

// Process id recorded by the latest process to take the lock; 0 when none is.
unsigned long holder(lock* l);

}  // namespace kelvane::userlock
