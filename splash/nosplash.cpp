// No pictures: the splash functions do nothing.
#include "splash/splash.h"

namespace kelvane::splash {

void startup() {}
void LoadSplashImages() {}
void startanimation(void*) {}
void PaintSplash(void*) {}
void dpichanged(void*, unsigned, const ui::rectangle&) {}
void shutdown() {}

}  // namespace kelvane::splash
