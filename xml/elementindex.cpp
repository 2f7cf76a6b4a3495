#include "xml/elementindex.h"

#include <algorithm>

namespace kelvane {

namespace {

std::unique_ptr<elementrecord[]> newpage(std::uint32_t records) {
  return std::unique_ptr<elementrecord[]>(new elementrecord[records]());
}

}  // namespace

void elementindex::grow(std::uint64_t n) {
  if (n <= allocated_) return;
  n = std::min<std::uint64_t>(n, UINT32_MAX);  // index numbers are 32 bits
  const std::uint32_t last = allocated_ ? (allocated_ - 1) >> 16 : 0;
  const std::uint32_t held = allocated_ - last * kPageSize;  // records in the last page
  std::uint32_t target = static_cast<std::uint32_t>((n - 1) >> 16);
  if (target > last + 1) {
    target = last + 1;
    n = std::min<std::uint64_t>(std::uint64_t{target + 1} * kPageSize, UINT32_MAX);
  }
  if (target >= pages_.size()) pages_.resize(2 * std::size_t{target} + 4);
  if (target > last && held < kPageSize) {
    auto full = newpage(kPageSize);
    if (held) std::copy_n(pages_[last].get(), held, full.get());
    pages_[last] = std::move(full);
  }
  const std::uint32_t records = static_cast<std::uint32_t>(n - std::uint64_t{target} * kPageSize);
  auto page = newpage(records);
  if (target == last && held) std::copy_n(pages_[last].get(), held, page.get());
  pages_[target] = std::move(page);
  allocated_ = static_cast<std::uint32_t>(n);
}

void elementindex::release() {
  pages_.clear();
  allocated_ = 0;
}

std::uint32_t elementindex::pagesize(std::uint32_t page) const {
  if (page >= pages_.size() || !pages_[page]) return 0;
  std::uint32_t last = allocated_ ? (allocated_ - 1) >> 16 : 0;
  return page < last ? kPageSize : allocated_ - last * kPageSize;
}

}  // namespace kelvane
