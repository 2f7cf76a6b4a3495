// The Windows splash's parts below splash.h, for its tests.
#pragma once

#include "splash/gdiplusdll.h"
#include "splash/gifimage.h"
#include "splash/layout.h"

namespace kelvane::splash {

// A read-only stream over a copy of the bytes, kept until the process ends
// (GDI+ reads an image's data from its stream for the image's whole life).
// Null if memory or the stream cannot be had.
IStream* memorystream(const unsigned char* bytes, unsigned size);

// The pictures LoadSplashImages decoded; null before, when GDI+ did not start,
// and (the panel) once the fade-in is over.
Gdiplus::Image* backgroundpicture();
GIFImage* animatedpicture();

// The fade-in itself: the panel, drawn to the layout's size, composited over
// the window's content in the eleven steps of fadealphas(), `pausems` apart
// (50 for the fade; 0 draws its end result at once), each step followed by
// the caption in the named font family, light grey, centred on the layout's
// caption line. A family that is not installed leaves out the caption only.
void fadein(HWND window, Gdiplus::Image& panel, const layout& at, const char16_t* fontfamily, unsigned pausems);

}  // namespace kelvane::splash
