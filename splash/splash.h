// The loader window's splash: a fading panel and an animated bar, drawn with
// GDI+ on Windows. Where there are no pictures (POSIX, or GDI+ missing) every
// function here does nothing.
#pragma once

namespace kelvane::splash {

void startup();           // starts GDI+ (once, before any other thread)
void LoadSplashImages();  // decodes both pictures from the program's own bytes

// For the loader window (a HWND passed as void*, so this header stays portable):
void startanimation(void* window);  // starts the bar centred in the window's client area
void PaintSplash(void* window);     // the fade-in, once; later calls draw nothing
void shutdown();                    // stops the bar's thread, then shuts GDI+ down

}  // namespace kelvane::splash
