// Arbitrary bytes as an icon file: reading must never read out of bounds or
// allocate without bound, and what it accepts must plan into a group
// directory that lists exactly its images.
#include <cstdlib>

#include "resources/iconfile.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  kelvane::iconfile icon;
  std::string error;
  if (!kelvane::parseiconfile(data, size, icon, error)) {
    check(!error.empty() && icon.entries.empty() && icon.images.empty());
    return 0;
  }
  check(!icon.entries.empty() && icon.images.size() == icon.entries.size());
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < icon.entries.size(); ++i) {
    check(icon.images[i].size() == icon.entries[i].bytesinres);
    total += icon.images[i].size();
  }
  check(total <= kelvane::maxiconresourcebytes);
  kelvane::iconplan plan;
  check(kelvane::planicon(icon, {1, 2, 3}, plan, error));
  check(plan.ids.size() == icon.entries.size() && plan.ids.front() == 4);
  check(kelvane::icongroupids(plan.group) == plan.ids);
  check(plan.group.size() == 6 + 14 * icon.entries.size());
  return 0;
}
