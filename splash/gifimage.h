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

class GIFImage : public Gdiplus::Image {
 public:
  GIFImage(IStream* stream, BOOL useEmbeddedColorManagement);
  ~GIFImage() override;

  // Stores the window and the point (client coordinates) to draw at, also
  // while playing: the thread picks them up from its next frame on. Starts the
  // thread if the picture has more than one frame and none runs yet.
  void StartAnimation(HWND window, int x, int y);
  // Ends the thread and waits for it, then releases the thread, the stop
  // event and the frame delays; a stopped player is not started again.
  // Harmless when nothing plays, and when called twice.
  void StopAnimation();

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
  framecycle frames_;
};

}  // namespace kelvane::splash
