// Arbitrary bytes as a stub's image: the resource tree is read within the
// bytes or refused; what is read is written back, and the written image reads
// back as the same resources and writes again to the same bytes. The package
// step (an icon and a version resource from the same bytes) never leaves a
// half-changed image.
#include <cstdlib>
#include <vector>

#include "resources/packageresources.h"
#include "resources/peresources.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

bool same(const std::vector<kelvane::resource>& a, const std::vector<kelvane::resource>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (!(a[i].type == b[i].type && a[i].name == b[i].name && a[i].language == b[i].language &&
          a[i].codepage == b[i].codepage && a[i].data == b[i].data))
      return false;
  return true;
}

// A small .ico of two images.
const std::vector<unsigned char> icon = {0, 0, 1, 0, 2, 0,                                        //
                                         16, 16, 0, 0, 1, 0, 32, 0, 3, 0, 0, 0, 38, 0, 0, 0,     //
                                         0, 0, 0, 0, 1, 0, 32, 0, 2, 0, 0, 0, 41, 0, 0, 0,       //
                                         'a', 'b', 'c', 'd', 'e'};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  using namespace kelvane;
  std::vector<resource> resources;
  std::string error;
  if (!readresources(data, size, resources, error)) {
    check(!error.empty() && resources.empty());
    return 0;
  }
  std::vector<unsigned char> image(data, data + size);
  if (writeresources(image, resources, error)) {
    std::vector<resource> again;
    check(readresources(image.data(), image.size(), again, error) && same(again, resources));
    std::vector<unsigned char> twice = image;
    check(writeresources(twice, again, error) && twice == image);
  } else {
    check(!error.empty() && image == std::vector<unsigned char>(data, data + size));
  }

  std::vector<unsigned char> package(data, data + size), program(data, data + size);
  if (!setpackageresources(package, &icon, &program, error))
    check(package == std::vector<unsigned char>(data, data + size));
  return 0;
}
