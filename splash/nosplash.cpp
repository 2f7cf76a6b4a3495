// No pictures: the splash functions do nothing.
#include "splash/splash.h"

namespace kelvane::splash {

void startup() {}
void shutdown() {}
void LoadSplashImages() {}

}  // namespace kelvane::splash
