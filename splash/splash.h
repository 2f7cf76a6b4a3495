// The loader window's splash: a fading panel and an animated bar, drawn with
// GDI+ on Windows. Elsewhere (and where GDI+ cannot be had) there are no
// pictures, and the window shows nothing.
#pragma once

namespace kelvane::splash {

void startup();           // starts GDI+
void shutdown();          // stops the bar, then shuts GDI+ down
void LoadSplashImages();  // decodes both pictures from the program's own bytes

}  // namespace kelvane::splash
