#include "splash/gdiplusdll.h"

namespace kelvane::splash {

HMODULE gdiplusmodule() {
  static const HMODULE module = LoadLibraryExW(L"gdiplus.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  return module;
}

namespace {

template <typename Function>
Function* find(const char* name) {
  HMODULE module = gdiplusmodule();
  FARPROC found = module ? GetProcAddress(module, name) : nullptr;
  return reinterpret_cast<Function*>(reinterpret_cast<void*>(found));
}

}  // namespace
}  // namespace kelvane::splash

// Each forwarder looks its function up once (thread-safe static) and calls it.
#define KELVANE_FORWARD(name, params, args)                                         \
  GpStatus WINGDIPAPI name params {                                                 \
    static const auto real = ::kelvane::splash::find<decltype(name)>(#name);        \
    return real ? real args : GdiplusNotInitialized;                                \
  }

namespace Gdiplus {

extern "C" {

KELVANE_FORWARD(GdiplusStartup,
                (ULONG_PTR * token, const GdiplusStartupInput* input, GdiplusStartupOutput* output),
                (token, input, output))

VOID WINGDIPAPI GdiplusShutdown(ULONG_PTR token) {
  static const auto real = ::kelvane::splash::find<decltype(GdiplusShutdown)>("GdiplusShutdown");
  if (real) real(token);
}

}  // extern "C"

namespace DllExports {
extern "C" {

VOID* WINGDIPAPI GdipAlloc(size_t size) {
  static const auto real = ::kelvane::splash::find<decltype(GdipAlloc)>("GdipAlloc");
  return real ? real(size) : nullptr;
}

VOID WINGDIPAPI GdipFree(VOID* memory) {
  static const auto real = ::kelvane::splash::find<decltype(GdipFree)>("GdipFree");
  if (real && memory) real(memory);
}

// Images.
KELVANE_FORWARD(GdipLoadImageFromStream, (IStream * stream, GpImage** image), (stream, image))
KELVANE_FORWARD(GdipLoadImageFromStreamICM, (IStream * stream, GpImage** image), (stream, image))
KELVANE_FORWARD(GdipCloneImage, (GpImage * image, GpImage** clone), (image, clone))  // in Image's vtable
KELVANE_FORWARD(GdipDisposeImage, (GpImage * image), (image))
KELVANE_FORWARD(GdipGetImageWidth, (GpImage * image, UINT* width), (image, width))
KELVANE_FORWARD(GdipGetImageHeight, (GpImage * image, UINT* height), (image, height))
KELVANE_FORWARD(GdipImageGetFrameDimensionsCount, (GpImage * image, UINT* count), (image, count))
KELVANE_FORWARD(GdipImageGetFrameDimensionsList, (GpImage * image, GUID* dimensions, UINT count),
                (image, dimensions, count))
KELVANE_FORWARD(GdipImageGetFrameCount, (GpImage * image, const GUID* dimension, UINT* count),
                (image, dimension, count))
KELVANE_FORWARD(GdipImageSelectActiveFrame, (GpImage * image, const GUID* dimension, UINT index),
                (image, dimension, index))
KELVANE_FORWARD(GdipGetPropertyItemSize, (GpImage * image, PROPID id, UINT* size), (image, id, size))
KELVANE_FORWARD(GdipGetPropertyItem, (GpImage * image, PROPID id, UINT size, PropertyItem* item),
                (image, id, size, item))
KELVANE_FORWARD(GdipGetImageGraphicsContext, (GpImage * image, GpGraphics** graphics), (image, graphics))
KELVANE_FORWARD(GdipCreateBitmapFromScan0,
                (INT width, INT height, INT stride, PixelFormat format, BYTE* scan0, GpBitmap** bitmap),
                (width, height, stride, format, scan0, bitmap))
KELVANE_FORWARD(GdipBitmapGetPixel, (GpBitmap * bitmap, INT x, INT y, ARGB* colour), (bitmap, x, y, colour))

// Image attributes.
KELVANE_FORWARD(GdipCreateImageAttributes, (GpImageAttributes * *attributes), (attributes))
KELVANE_FORWARD(GdipDisposeImageAttributes, (GpImageAttributes * attributes), (attributes))
KELVANE_FORWARD(GdipSetImageAttributesColorMatrix,
                (GpImageAttributes * attributes, ColorAdjustType type, BOOL enable, const ColorMatrix* colours,
                 const ColorMatrix* greys, ColorMatrixFlags flags),
                (attributes, type, enable, colours, greys, flags))
KELVANE_FORWARD(GdipSetImageAttributesWrapMode, (GpImageAttributes * attributes, WrapMode wrap, ARGB colour, BOOL clamp),
                (attributes, wrap, colour, clamp))

// Text.
KELVANE_FORWARD(GdipCreateFontFamilyFromName, (const WCHAR* name, GpFontCollection* fonts, GpFontFamily** family),
                (name, fonts, family))
KELVANE_FORWARD(GdipDeleteFontFamily, (GpFontFamily * family), (family))
KELVANE_FORWARD(GdipCreateFont, (const GpFontFamily* family, REAL size, INT style, Unit unit, GpFont** font),
                (family, size, style, unit, font))
KELVANE_FORWARD(GdipDeleteFont, (GpFont * font), (font))
KELVANE_FORWARD(GdipCreateStringFormat, (INT flags, LANGID language, GpStringFormat** format),
                (flags, language, format))
KELVANE_FORWARD(GdipDeleteStringFormat, (GpStringFormat * format), (format))
KELVANE_FORWARD(GdipSetStringFormatAlign, (GpStringFormat * format, StringAlignment align), (format, align))
KELVANE_FORWARD(GdipCreateSolidFill, (ARGB colour, GpSolidFill** brush), (colour, brush))
KELVANE_FORWARD(GdipDeleteBrush, (GpBrush * brush), (brush))
KELVANE_FORWARD(GdipCloneBrush, (GpBrush * brush, GpBrush** clone), (brush, clone))  // in SolidBrush's vtable

// Drawing.
KELVANE_FORWARD(GdipCreateFromHDC, (HDC dc, GpGraphics** graphics), (dc, graphics))
KELVANE_FORWARD(GdipDeleteGraphics, (GpGraphics * graphics), (graphics))
KELVANE_FORWARD(GdipGraphicsClear, (GpGraphics * graphics, ARGB colour), (graphics, colour))
KELVANE_FORWARD(GdipSetInterpolationMode, (GpGraphics * graphics, InterpolationMode mode), (graphics, mode))
KELVANE_FORWARD(GdipSetPixelOffsetMode, (GpGraphics * graphics, PixelOffsetMode mode), (graphics, mode))
KELVANE_FORWARD(GdipDrawImageRectI, (GpGraphics * graphics, GpImage* image, INT x, INT y, INT width, INT height),
                (graphics, image, x, y, width, height))
KELVANE_FORWARD(GdipDrawImageRectRectI,
                (GpGraphics * graphics, GpImage* image, INT dx, INT dy, INT dwidth, INT dheight, INT sx, INT sy,
                 INT swidth, INT sheight, GpUnit unit, const GpImageAttributes* attributes, DrawImageAbort abort,
                 VOID* abortdata),
                (graphics, image, dx, dy, dwidth, dheight, sx, sy, swidth, sheight, unit, attributes, abort,
                 abortdata))
KELVANE_FORWARD(GdipDrawString,
                (GpGraphics * graphics, const WCHAR* text, INT length, const GpFont* font, const RectF* layout,
                 const GpStringFormat* format, const GpBrush* brush),
                (graphics, text, length, font, layout, format, brush))

}  // extern "C"
}  // namespace DllExports
}  // namespace Gdiplus
