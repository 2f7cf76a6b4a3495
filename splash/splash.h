// The loader window's splash: a fading panel and an animated bar, drawn with
// GDI+ on Windows. Where there are no pictures (POSIX, or GDI+ missing) every
// function here does nothing.
#pragma once

namespace kelvane::splash {

void startup();           // starts GDI+ (once, before any other thread)
void LoadSplashImages();  // decodes both pictures from the program's own bytes

// For the loader window (a HWND passed as void*, so this header stays portable):
// startanimation, at WM_CREATE before the window shows: keeps a copy of the
// screen beneath the window (the backdrop the panel fades in over) and starts
// the bar centred in the client area.
void startanimation(void* window);
// PaintSplash, at every WM_PAINT: the first call puts the backdrop into the
// window and fades the panel in over it (about 550 ms); later calls draw
// nothing and open no paint cycle.
void PaintSplash(void* window);
void shutdown();                    // stops the bar's thread, then shuts GDI+ down

}  // namespace kelvane::splash
