// How much of the machine this process may use.
#pragma once

namespace kelvane::sys {

// The processors in the process's affinity mask, so that `taskset` or a job
// object limits the program as it limits its scheduling; at least 1.
int usableprocessors();

}  // namespace kelvane::sys
