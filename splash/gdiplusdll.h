// GDI+ for the splash, taken from the system folder at run time.
//
// mingw-w64's GDI+ classes call the flat functions of gdiplus.dll. Instead of
// linking its import library, gdiplusdll.cpp defines each flat function the
// program uses as a small forwarder that finds the real one with
// GetProcAddress in gdiplus.dll, loaded from the system folder only. The
// program's import table then names no DLL beyond the system's own, and a
// gdiplus.dll planted next to a downloaded installer is never loaded. When the
// DLL or a function is missing, each forwarder reports GdiplusNotInitialized
// (or allocates nothing) and the splash simply does not show.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

namespace kelvane::splash {

// gdiplus.dll from the system folder, loaded on first use; null when missing.
HMODULE gdiplusmodule();

}  // namespace kelvane::splash
