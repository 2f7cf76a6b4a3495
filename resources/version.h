// The version resource a package carries: the setup program's, when it has
// one, so that Windows shows the vendor's product and not the loader
// (written by setpackageresources, resources/packageresources.h).
#pragma once

#include <string>
#include <string_view>

namespace kelvane {

// Whether `resource` holds a version resource Windows can read: a
// VS_VERSIONINFO block that fits in the bytes given. Empty when it does,
// otherwise why not.
std::string checkversionresource(std::string_view resource);

}  // namespace kelvane
