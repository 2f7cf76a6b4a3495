// The loader window's splash: a fading panel and an animated bar, drawn with
// GDI+ on Windows. Where there are no pictures (POSIX, or GDI+ missing) every
// function here does nothing.
#pragma once

#include "platform/ui.h"
#include "splash/layout.h"

namespace kelvane::splash {

void startup();           // starts GDI+ (once, before any other thread)
void LoadSplashImages();  // decodes both pictures, for the opening monitor's DPI, from the program's own bytes

// For the loader window (a HWND passed as void*, so this header stays portable),
// sized as layoutfor() says for its DPI:
// startanimation, at WM_CREATE before the window shows: takes the pictures
// for the window's DPI, keeps a copy of the screen beneath the window (the
// backdrop the panel fades in over) and starts the bar at its place.
void startanimation(void* window);
// PaintSplash, at every WM_PAINT: the first call puts the backdrop into the
// window and fades the panel in over it (about 550 ms); later calls draw
// nothing and open no paint cycle.
void PaintSplash(void* window);
// dpichanged, at WM_DPICHANGED: moves the window to the rectangle Windows
// suggests and swaps in the pictures for the new DPI. The bar goes on from
// the frame it had reached; the fade is not run again: once it is over, its
// end result is drawn at once over what is beneath the window's new place.
void dpichanged(void* window, unsigned dpi, const ui::rectangle& suggested);
void shutdown();                    // stops the bar's thread, then shuts GDI+ down

}  // namespace kelvane::splash
