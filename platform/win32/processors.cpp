#include "platform/processors.h"

#include <windows.h>

#include <bit>

namespace kelvane::sys {

// The mask, not GetSystemInfo's processor count: only the mask follows a
// limit set from outside the process.
int usableprocessors() {
  DWORD_PTR process = 0, system = 0;
  if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system) || process == 0) return 1;
  return std::popcount(static_cast<unsigned long long>(process));
}

}  // namespace kelvane::sys
