// Arbitrary bytes as an icon file: reading and planning must never read out
// of bounds or allocate without bound, and what they accept must be a plan
// ReplaceExeIcon can write as it stands.
#include <cstdio>
#include <cstdlib>

#include "resources/iconfile.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

void checkplan(const kelvane::iconplan& plan) {
  check(!plan.entries.empty());
  check(plan.images.size() == plan.entries.size());
  for (std::size_t i = 0; i < plan.entries.size(); ++i) check(plan.images[i].size() == plan.entries[i].bytesinres);
  std::uint64_t total = 0;
  for (std::size_t k = 0; k < plan.resources.size(); ++k) {
    check(plan.resources[k].id == k + 1);
    check(plan.resources[k].image < plan.images.size());
    total += plan.images[plan.resources[k].image].size();
  }
  check(plan.resources.size() >= 10);
  check(total <= kelvane::maxiconresourcebytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  // fmemopen refuses an empty buffer; a single zero byte reads the same: no header.
  static unsigned char none;
  std::FILE* file = fmemopen(size ? const_cast<unsigned char*>(data) : &none, size ? size : 1, "rb");
  if (!file) return 0;
  kelvane::iconplan plan;
  std::string error;
  if (kelvane::loadiconfile(file, plan, error))
    checkplan(plan);
  else
    check(!error.empty());
  std::fclose(file);
  return 0;
}
