// Icon replacement is not built yet: the executable keeps its icon.
#include "resources/icon.h"

namespace kelvane {

bool ReplaceExeIcon(const std::u16string&, const std::u16string&) { return false; }

}  // namespace kelvane
