// The splash on Windows: GDI+ from the system folder, the two pictures
// decoded from the program's own bytes, the fade-in and the bar player.
#include "splash/splash.h"

#include <cstring>
#include <new>

#include "platform/ui.h"
#include "splash/layout.h"
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
const scaledpictures* loaded = nullptr;  // the scale step the two pictures below are drawn for
Gdiplus::Image* background = nullptr;
GIFImage* animated = nullptr;
bool fadedone = false;
unsigned windowdpi = 0;  // the loader window's DPI, once it exists
// What the screen showed where the window now is, taken before the window
// first shows; the panel fades in over it. A window that never erases its
// background would otherwise start out black wherever the screen is
// composited (or under wine), and the translucent panel would fade in over
// black instead of over the desktop. Kept, with its place on the screen, for
// as long as the window lives: a move to a monitor of another scale paints
// the panel anew over it.
HBITMAP backdrop = nullptr;
RECT backdropplace{};

const WCHAR* wide(const char16_t* text) { return reinterpret_cast<const WCHAR*>(text); }

// Constructs a GDI+ object in GdipAlloc's memory; null when there is none.
template <typename T, typename... Args>
T* gdipnew(Args... args) {
  void* memory = Gdiplus::DllExports::GdipAlloc(sizeof(T));
  return memory ? ::new (memory) T(args...) : nullptr;
}

const scaledpictures& picturesfor(unsigned dpi) {
  const unsigned step = picturedpi(dpi);
  for (unsigned i = 0; i < picturecount; ++i)
    if (pictures[i].dpi == step) return pictures[i];
  return pictures[0];
}

Gdiplus::Image* decodepanel(const scaledpictures& set) {
  IStream* stream = memorystream(set.panel, set.panelsize);
  return stream ? gdipnew<Gdiplus::Image>(stream, FALSE) : nullptr;
}

// Makes the pictures of a DPI's scale step the current ones (the panel only
// while the fade is still to come), and decodes a bar if there is none.
void usepictures(unsigned dpi) {
  const scaledpictures& set = picturesfor(dpi);
  if (loaded != &set) {
    loaded = &set;
    if (!fadedone) {
      delete background;
      background = decodepanel(set);
    }
    delete animated;  // stops its thread first
    animated = nullptr;
  }
  if (animated) return;
  if (IStream* stream = memorystream(set.bar, set.barsize)) animated = gdipnew<GIFImage>(stream, FALSE);
}

// Copies the screen at `place` into a new bitmap.
HBITMAP copyscreen(const RECT& place) {
  HDC screen = GetDC(nullptr);
  if (!screen) return nullptr;
  HBITMAP copy = nullptr;
  if (HDC memory = CreateCompatibleDC(screen)) {
    copy = CreateCompatibleBitmap(screen, place.right - place.left, place.bottom - place.top);
    HGDIOBJ previous = SelectObject(memory, copy);
    BitBlt(memory, 0, 0, place.right - place.left, place.bottom - place.top, screen, place.left, place.top, SRCCOPY);
    SelectObject(memory, previous);
    DeleteDC(memory);
  }
  ReleaseDC(nullptr, screen);
  return copy;
}

// Copies the screen under the client area; at WM_CREATE the window is not
// shown yet, so this is what the user sees there.
void keepbackdrop(HWND window, const RECT& client) {
  POINT origin{0, 0};
  ClientToScreen(window, &origin);
  backdropplace = {origin.x, origin.y, origin.x + client.right, origin.y + client.bottom};
  backdrop = copyscreen(backdropplace);
}

// The backdrop for the window's next place: the screen there, except where
// the window itself now is, which the old backdrop shows as it was.
void movebackdrop(const RECT& place) {
  HBITMAP moved = copyscreen(place);
  HDC screen = GetDC(nullptr);
  HDC to = screen ? CreateCompatibleDC(screen) : nullptr, from = screen ? CreateCompatibleDC(screen) : nullptr;
  if (moved && to && from) {
    HGDIOBJ previousto = SelectObject(to, moved), previousfrom = SelectObject(from, backdrop);
    BitBlt(to, backdropplace.left - place.left, backdropplace.top - place.top, backdropplace.right - backdropplace.left,
           backdropplace.bottom - backdropplace.top, from, 0, 0, SRCCOPY);
    SelectObject(to, previousto);
    SelectObject(from, previousfrom);
  }
  if (to) DeleteDC(to);
  if (from) DeleteDC(from);
  if (screen) ReleaseDC(nullptr, screen);
  DeleteObject(backdrop);
  backdrop = moved;
  backdropplace = place;
}

// Puts the kept screen into the window.
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
}

void startbar(HWND window, const layout& at, std::uint32_t resumeat) {
  if (!animated) return;
  animated->SetDrawSize(at.bar.width, at.bar.height);
  animated->StartAnimation(window, at.bar.x, at.bar.y, resumeat);
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

// For the monitor the window will most likely open on; the window swaps them
// if its DPI turns out to be another.
void LoadSplashImages() {
  if (!gdiplusrunning) return;
  usepictures(ui::openingmonitor().dpi);
}

void startanimation(void* window) {
  if (!gdiplusrunning) return;
  HWND hwnd = static_cast<HWND>(window);
  windowdpi = ui::windowdpi(hwnd);
  usepictures(windowdpi);
  RECT client{};
  GetClientRect(hwnd, &client);
  if (!backdrop && !fadedone && background) keepbackdrop(hwnd, client);
  startbar(hwnd, layoutfor(windowdpi), GIFImage::freshstart);
}

void fadein(HWND window, Gdiplus::Image& panel, const layout& at, const char16_t* fontfamily, unsigned pausems) {
  // Made once for the whole fade. Whatever GDI+ cannot make (a font that is
  // not installed) is left out of the drawing; the fade runs all the same.
  Gdiplus::ImageAttributes attributes;
  Gdiplus::FontFamily family(wide(fontfamily));
  // In pixels for the window's DPI: a font in points would follow the DPI of
  // the device context, which is the system's, not the monitor's.
  Gdiplus::Font font(&family, at.captionpixels, Gdiplus::FontStyleRegular, Gdiplus::UnitPixel);
  Gdiplus::StringFormat format(0, LANG_NEUTRAL);
  format.SetAlignment(Gdiplus::StringAlignmentCenter);
  Gdiplus::SolidBrush brush{Gdiplus::Color(captioncolour)};
  // Without extent the layout box neither wraps nor clips: the caption is
  // centred on the window's middle whatever its width.
  const Gdiplus::RectF captionbox(at.captionx, at.captiony, 0.0f, 0.0f);

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
        drawpicture(graphics, panel, 0, 0, at.width, at.height, &attributes);
        graphics.DrawString(wide(caption), static_cast<INT>(std::size(caption) - 1), &font, captionbox, &format,
                            &brush);
      }
      ReleaseDC(window, dc);
    }
    if (pausems) Sleep(pausems);
    EndPaint(window, &paint);
  }
}

void PaintSplash(void* window) {
  if (fadedone || !background || !gdiplusrunning) return;
  HWND hwnd = static_cast<HWND>(window);
  putbackdrop(hwnd);
  fadein(hwnd, *background, layoutfor(windowdpi ? windowdpi : ui::windowdpi(hwnd)), captionfont, fadestepms);
  fadedone = true;
  delete background;  // not drawn again: later calls return at once
  background = nullptr;
}

void dpichanged(void* window, unsigned dpi, const ui::rectangle& suggested) {
  HWND hwnd = static_cast<HWND>(window);
  const RECT place{suggested.left, suggested.top, suggested.left + suggested.width, suggested.top + suggested.height};
  if (backdrop) movebackdrop(place);
  SetWindowPos(hwnd, nullptr, place.left, place.top, suggested.width, suggested.height,
               SWP_NOZORDER | SWP_NOACTIVATE);
  windowdpi = dpi;
  if (!gdiplusrunning) return;
  // A stopped player does not start again: the bar goes on in a new one.
  const bool playing = animated && animated->playing();
  std::uint32_t resumeat = GIFImage::freshstart;
  if (animated) {
    animated->StopAnimation();
    resumeat = animated->StoppedAt();
    delete animated;
    animated = nullptr;
  }
  usepictures(dpi);
  const layout at = layoutfor(dpi);
  if (fadedone) {
    // The fade is over: its end result at once, drawn for the new scale.
    if (Gdiplus::Image* panel = decodepanel(*loaded)) {
      putbackdrop(hwnd);
      fadein(hwnd, *panel, at, captionfont, 0);
      delete panel;
    }
  }
  if (playing) startbar(hwnd, at, resumeat);
}

void shutdown() {
  // The bar's thread draws with GDI+: it ends before GDI+ does.
  if (animated) animated->StopAnimation();
  if (gdiplusrunning) Gdiplus::GdiplusShutdown(gdiplustoken);
  gdiplusrunning = false;
  if (backdrop) DeleteObject(backdrop);
  backdrop = nullptr;
}

}  // namespace kelvane::splash
