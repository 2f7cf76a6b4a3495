// The splash on Windows: GDI+ from the system folder, the two pictures
// decoded from the program's own bytes, the fade-in and the bar player.
#include "splash/splash.h"

#include <cstring>
#include <new>

#include "splash/pictures.h"
#include "splash/splashwin.h"

namespace kelvane::splash {

namespace {

const char16_t captionfont[] = u"微软雅黑";
const char16_t caption[] = u"正在检查电脑环境...";
constexpr Gdiplus::ARGB captioncolour = 0xFFE1E1E1;

// Written on the first thread before any other starts, or by the window's
// thread only.
ULONG_PTR gdiplustoken = 0;
bool gdiplusrunning = false;  // from a good startup() until shutdown()
Gdiplus::Image* background = nullptr;
GIFImage* animated = nullptr;
bool fadedone = false;
// What the screen showed where the window now is, taken before the window
// first shows; the panel fades in over it. A window that never erases its
// background would otherwise start out black wherever the screen is
// composited (or under wine), and the translucent panel would fade in over
// black instead of over the desktop.
HBITMAP backdrop = nullptr;

const WCHAR* wide(const char16_t* text) { return reinterpret_cast<const WCHAR*>(text); }

// Constructs a GDI+ object in GdipAlloc's memory; null when there is none.
template <typename T, typename... Args>
T* gdipnew(Args... args) {
  void* memory = Gdiplus::DllExports::GdipAlloc(sizeof(T));
  return memory ? ::new (memory) T(args...) : nullptr;
}

// Copies the screen under the client area; at WM_CREATE the window is not
// shown yet, so this is what the user sees there.
void keepbackdrop(HWND window, const RECT& client) {
  POINT origin{0, 0};
  ClientToScreen(window, &origin);
  HDC screen = GetDC(nullptr);
  if (!screen) return;
  if (HDC memory = CreateCompatibleDC(screen)) {
    backdrop = CreateCompatibleBitmap(screen, client.right, client.bottom);
    HGDIOBJ previous = SelectObject(memory, backdrop);
    BitBlt(memory, 0, 0, client.right, client.bottom, screen, origin.x, origin.y, SRCCOPY);
    SelectObject(memory, previous);
    DeleteDC(memory);
  }
  ReleaseDC(nullptr, screen);
}

// Puts the kept screen into the window once, then lets it go.
void putbackdrop(HWND window) {
  if (!backdrop) return;
  BITMAP size{};
  GetObjectW(backdrop, sizeof size, &size);
  HDC dc = GetDC(window);
  HDC memory = dc ? CreateCompatibleDC(dc) : nullptr;
  if (memory) {
    HGDIOBJ previous = SelectObject(memory, backdrop);
    BitBlt(dc, 0, 0, size.bmWidth, size.bmHeight, memory, 0, 0, SRCCOPY);
    SelectObject(memory, previous);
    DeleteDC(memory);
  }
  if (dc) ReleaseDC(window, dc);
  DeleteObject(backdrop);
  backdrop = nullptr;
}

}  // namespace

IStream* memorystream(const unsigned char* bytes, unsigned size) {
  // Movable memory, as streams over global memory expect.
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
  if (!block) return nullptr;
  void* copy = GlobalLock(block);
  IStream* stream = nullptr;
  if (copy) {
    std::memcpy(copy, bytes, size);
    GlobalUnlock(block);
    if (CreateStreamOnHGlobal(block, FALSE, &stream) == S_OK) return stream;
  }
  GlobalFree(block);
  return nullptr;
}

Gdiplus::Image* backgroundpicture() { return background; }
GIFImage* animatedpicture() { return animated; }

void startup() {
  Gdiplus::GdiplusStartupInput input;  // version 1
  gdiplusrunning = Gdiplus::GdiplusStartup(&gdiplustoken, &input, nullptr) == Gdiplus::Ok;
}

void LoadSplashImages() {
  if (!gdiplusrunning) return;
  if (IStream* stream = memorystream(panel_png, panel_png_size)) background = gdipnew<Gdiplus::Image>(stream, FALSE);
  if (IStream* stream = memorystream(bar_gif, bar_gif_size)) animated = gdipnew<GIFImage>(stream, FALSE);
}

void startanimation(void* window) {
  if (!gdiplusrunning) return;
  HWND hwnd = static_cast<HWND>(window);
  RECT client{};
  GetClientRect(hwnd, &client);
  if (!backdrop && !fadedone && background) keepbackdrop(hwnd, client);
  if (!animated) return;
  point at = centred(client.right - client.left, client.bottom - client.top, static_cast<int>(animated->GetWidth()),
                     static_cast<int>(animated->GetHeight()));
  animated->StartAnimation(hwnd, at.x, at.y);
}

void fadein(HWND window, Gdiplus::Image& panel, const char16_t* fontfamily) {
  const INT width = static_cast<INT>(panel.GetWidth()), height = static_cast<INT>(panel.GetHeight());
  // Made once for the whole fade. Whatever GDI+ cannot make (a font that is
  // not installed) is left out of the drawing; the fade runs all the same.
  Gdiplus::ImageAttributes attributes;
  Gdiplus::FontFamily family(wide(fontfamily));
  Gdiplus::Font font(&family, 10.0f, Gdiplus::FontStyleRegular, Gdiplus::UnitPoint);
  Gdiplus::StringFormat format(0, LANG_NEUTRAL);
  format.SetAlignment(Gdiplus::StringAlignmentCenter);
  Gdiplus::SolidBrush brush{Gdiplus::Color(captioncolour)};
  // Without extent the layout box neither wraps nor clips: the caption is
  // centred on the window's middle whatever its width.
  const Gdiplus::RectF captionbox(290.0f, 3.0f, 0.0f, 0.0f);

  for (float alpha : fadealphas()) {
    colourmatrix values = fadematrix(alpha);
    Gdiplus::ColorMatrix matrix;
    static_assert(sizeof matrix.m == sizeof values);
    std::memcpy(matrix.m, values.data(), sizeof matrix.m);
    attributes.SetColorMatrix(&matrix, Gdiplus::ColorMatrixFlagsDefault, Gdiplus::ColorAdjustTypeDefault);

    // The paint cycle only validates the window; drawing goes through a
    // device context of the whole client area, nothing clipped.
    PAINTSTRUCT paint;
    BeginPaint(window, &paint);
    if (HDC dc = GetDC(window)) {
      {
        Gdiplus::Graphics graphics(dc);
        graphics.DrawImage(&panel, Gdiplus::Rect(0, 0, width, height), 0, 0, width, height, Gdiplus::UnitPixel,
                           &attributes);
        graphics.DrawString(wide(caption), static_cast<INT>(std::size(caption) - 1), &font, captionbox, &format,
                            &brush);
      }
      ReleaseDC(window, dc);
    }
    Sleep(fadestepms);
    EndPaint(window, &paint);
  }
}

void PaintSplash(void* window) {
  if (fadedone || !background || !gdiplusrunning) return;
  putbackdrop(static_cast<HWND>(window));
  fadein(static_cast<HWND>(window), *background, captionfont);
  fadedone = true;
  delete background;  // not drawn again: later calls return at once
  background = nullptr;
}

void shutdown() {
  // The bar's thread draws with GDI+: it ends before GDI+ does.
  if (animated) animated->StopAnimation();
  if (gdiplusrunning) Gdiplus::GdiplusShutdown(gdiplustoken);
  gdiplusrunning = false;
}

}  // namespace kelvane::splash
