// GIFImage: a GDI+ image that plays its own frames on a window.
//
// Constructed from a stream holding a picture of several frames, it reads the
// frame count and delays. StartAnimation starts a thread that draws the active
// frame at a point of a window, selects the next frame and waits that frame's
// delay, until StopAnimation (also run by the destructor) ends it. The stream
// must outlive the object; like every GDI+ object it is allocated with
// GdipAlloc (operator new of Gdiplus::GdiplusBase).
#pragma once

#include <atomic>

#include "splash/gdiplusdll.h"
#include "splash/schedule.h"

namespace kelvane::splash {

// Draws a picture into a rectangle: as it is when the sizes agree, else with
// high-quality bicubic filtering, edges sampled from the picture's own edge
// pixels rather than from transparency beyond them. `attributes` may be null.
void drawpicture(Gdiplus::Graphics& graphics, Gdiplus::Image& picture, int x, int y, int width, int height,
                 Gdiplus::ImageAttributes* attributes);

class GIFImage : public Gdiplus::Image {
 public:
  static constexpr std::uint32_t freshstart = ~std::uint32_t{0};

  GIFImage(IStream* stream, BOOL useEmbeddedColorManagement);
  ~GIFImage() override;

  // The size frames are drawn at, set before StartAnimation; by default the
  // picture's own.
  void SetDrawSize(int width, int height) { size_ = point{width, height}; }
  // Stores the window and the point (client coordinates) to draw at, also
  // while playing: the thread picks them up from its next frame on. Starts the
  // thread if the picture has more than one frame and none runs yet: from the
  // first frame, or, given another player's StoppedAt(), where that one
  // stopped, so that a picture swapped in keeps the bar's pace.
  void StartAnimation(HWND window, int x, int y, std::uint32_t resumeat = freshstart);
  // Ends the thread and waits for it, then releases the thread, the stop
  // event and the frame delays; a stopped player is not started again.
  // Harmless when nothing plays, and when called twice.
  void StopAnimation();
  // After StopAnimation: the frame the player would have selected next, or
  // freshstart when it never played.
  std::uint32_t StoppedAt() const { return stoppedat_; }

  const framecycle& frames() const { return frames_; }
  bool playing() const { return thread_ != nullptr; }

 private:
  void ReadFrameInfo();
  void AnimationLoop();
  static DWORD WINAPI threadmain(void* self);

  HANDLE thread_ = nullptr;
  HANDLE stopevent_ = nullptr;
  // Rewritten by StartAnimation while the thread reads them.
  std::atomic<HWND> window_{nullptr};
  std::atomic<point> at_{point{}};
  std::atomic<point> size_{point{}};  // 0 x 0: the picture's own size
  std::uint32_t resumeat_ = freshstart;
  std::uint32_t stoppedat_ = freshstart;
  framecycle frames_;
};

}  // namespace kelvane::splash
