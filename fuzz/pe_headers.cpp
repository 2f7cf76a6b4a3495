// Arbitrary bytes read as a program file: the certificate table and the data
// end are found within the bytes, the same from memory as from a file, and a
// copy whose signature was cleared has no table left.
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "package/peimage.h"
#include "platform/files.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

std::string path;

std::uint32_t le32(const unsigned char* p) {
  return p[0] | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  path = "/dev/shm/kelvane-fuzz-peimage-" + std::to_string(getpid()) + ".exe";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  using namespace kelvane;
  std::uint64_t table = certificatestart(data, size), end = dataend(data, size);
  check(table <= size && end <= table && table - end <= 7);
  for (std::uint64_t i = end; i < table; ++i) check(data[i] == 0);

  kelvane::peheaders headers;
  bool image = readpeheaders(data, size, headers);
  check(image || table == size);
  if (image) check(headers.checksum + 4 <= size && headers.security + 8 <= size);
  if (table < size) {
    // A table that counts is the one the directory names, after the sections,
    // up to the end of the file.
    check(le32(data + headers.security) == table && table + le32(data + headers.security + 4) == size);
    check(headers.sectionsend <= table);
  }

  std::FILE* f = fs::openfile(path, "wb");
  check(f && std::fwrite(data, 1, size, f) == size && std::fclose(f) == 0);
  f = fs::openfile(path, "rb");
  check(certificatestart(f) == std::int64_t(table) && dataend(f) == std::int64_t(end));
  std::fclose(f);

  std::vector<unsigned char> copy(data, data + size);
  check(clearsignature(copy.data(), copy.size()) == image);
  check(certificatestart(copy.data(), copy.size()) == size);
  std::size_t changed = 0;
  for (std::size_t i = 0; i < size; ++i) changed += copy[i] != data[i];
  check(changed <= 12);
  return 0;
}
