#include "splash/gifimage.h"

#include <vector>

namespace kelvane::splash {

namespace {
// GDI+'s time dimension of animated pictures (FrameDimensionTime).
const GUID timedimension = {0x6aedbd6d, 0x3fb5, 0x418a, {0x83, 0xa6, 0x7f, 0x45, 0x22, 0x9d, 0xc8, 0x72}};
}  // namespace

void drawpicture(Gdiplus::Graphics& graphics, Gdiplus::Image& picture, int x, int y, int width, int height,
                 Gdiplus::ImageAttributes* attributes) {
  const int ownwidth = static_cast<int>(picture.GetWidth()), ownheight = static_cast<int>(picture.GetHeight());
  Gdiplus::ImageAttributes edges;
  if (width != ownwidth || height != ownheight) {
    graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
    graphics.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
    if (!attributes) attributes = &edges;
    attributes->SetWrapMode(Gdiplus::WrapModeTileFlipXY);
  }
  graphics.DrawImage(&picture, Gdiplus::Rect(x, y, width, height), 0, 0, ownwidth, ownheight, Gdiplus::UnitPixel,
                     attributes);
}

GIFImage::GIFImage(IStream* stream, BOOL useEmbeddedColorManagement)
    : Gdiplus::Image(stream, useEmbeddedColorManagement) {
  stopevent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ReadFrameInfo();
}

GIFImage::~GIFImage() { StopAnimation(); }

void GIFImage::ReadFrameInfo() {
  UINT dimensions = GetFrameDimensionsCount();
  if (dimensions == 0) return;
  std::vector<GUID> ids(dimensions);
  if (GetFrameDimensionsList(ids.data(), dimensions) != Gdiplus::Ok) return;
  UINT count = GetFrameCount(&ids[0]);

  // The delays, in hundredths of a second, one 32-bit value per frame.
  std::vector<std::uint32_t> delays;
  UINT size = GetPropertyItemSize(PropertyTagFrameDelay);
  if (size >= sizeof(Gdiplus::PropertyItem)) {
    std::vector<std::uint64_t> block((size + 7) / 8);  // aligned for the item header
    auto* item = reinterpret_cast<Gdiplus::PropertyItem*>(block.data());
    if (GetPropertyItem(PropertyTagFrameDelay, size, item) == Gdiplus::Ok && item->value) {
      const auto* values = static_cast<const std::uint32_t*>(item->value);
      delays.assign(values, values + item->length / sizeof(std::uint32_t));
    }
  }
  frames_ = framecycle(count, std::move(delays));
}

void GIFImage::StartAnimation(HWND window, int x, int y, std::uint32_t resumeat) {
  window_ = window;
  at_ = point{x, y};
  if (!frames_.animated() || thread_ || !stopevent_) return;
  resumeat_ = resumeat;
  thread_ = CreateThread(nullptr, 0, threadmain, this, CREATE_SUSPENDED, nullptr);
  if (thread_) ResumeThread(thread_);
}

void GIFImage::StopAnimation() {
  if (thread_) {
    SetEvent(stopevent_);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    thread_ = nullptr;
    stoppedat_ = frames_.upcoming();
  }
  if (stopevent_) CloseHandle(stopevent_);
  stopevent_ = nullptr;
  frames_ = framecycle();
}

DWORD WINAPI GIFImage::threadmain(void* self) {
  static_cast<GIFImage*>(self)->AnimationLoop();
  return 0;
}

void GIFImage::AnimationLoop() {
  if (resumeat_ != freshstart) SelectActiveFrame(&timedimension, frames_.resume(resumeat_));
  for (;;) {
    point size = size_;
    if (size.x <= 0 || size.y <= 0) size = point{static_cast<int>(GetWidth()), static_cast<int>(GetHeight())};
    HWND window = window_;
    point at = at_;
    // A device context and a graphics object per frame: nothing is held
    // between frames, so the window may change or go away meanwhile.
    if (HDC dc = window ? GetDC(window) : nullptr) {
      {
        Gdiplus::Graphics graphics(dc);
        drawpicture(graphics, *this, at.x, at.y, size.x, size.y, nullptr);
      }
      ReleaseDC(window, dc);
    }
    SelectActiveFrame(&timedimension, frames_.advance());
    // The delay is the wait on the stop event, so a stop cuts it short.
    if (WaitForSingleObject(stopevent_, frames_.waitms()) != WAIT_TIMEOUT) return;
  }
}

}  // namespace kelvane::splash
