#include "resources/version.h"

namespace kelvane {

// Executables with resources are Windows programs: nothing to copy elsewhere.
bool CopyVersionResource(const std::u16string&, const std::u16string&) { return false; }

}  // namespace kelvane
