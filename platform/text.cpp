// The conversions that need no system call of their own.
#include "platform/text.h"

#include <cstdlib>
#include <cstring>

namespace kelvane {

char16_t* towidebuffer(std::string_view narrow) {
  std::u16string wide = towide(narrow);
  auto* buffer = static_cast<char16_t*>(std::calloc(wide.size() + 1, sizeof(char16_t)));
  if (buffer) std::memcpy(buffer, wide.data(), wide.size() * sizeof(char16_t));
  return buffer;
}

}  // namespace kelvane
