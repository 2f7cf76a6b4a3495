#include "common/scale.h"

namespace kelvane {

int scaled(int value, unsigned dpi) {
  long long product = static_cast<long long>(value) * dpi;
  long long half = basedpi / 2;
  return static_cast<int>(product >= 0 ? (product + half) / basedpi : -((-product + half) / basedpi));
}

}  // namespace kelvane
