// The splash under wine on the session's X screen: the compiled-in pictures
// as GDI+ decodes them, the bar player and the fade-in drawing into real
// windows (read back pixel by pixel), and the shutdown order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "splash/pictures.h"
#include "splash/schedule.h"
#include "splash/splash.h"
#include "splash/splashwin.h"

namespace kelvane::splash {
namespace {

const GUID timedimension = {0x6aedbd6d, 0x3fb5, 0x418a, {0x83, 0xa6, 0x7f, 0x45, 0x22, 0x9d, 0xc8, 0x72}};

// GDI+ and the pictures, once for the program, as the loader does it.
class Session : public ::testing::Environment {
 public:
  void SetUp() override {
    startup();
    LoadSplashImages();
  }
};
const auto* session = ::testing::AddGlobalTestEnvironment(new Session);

// Lets the window's messages through for a while.
void pump(DWORD ms) {
  DWORD end = GetTickCount() + ms;
  do {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    Sleep(10);
  } while (static_cast<LONG>(end - GetTickCount()) > 0);
}

// Lets the messages through until `done` holds, for at most five seconds: the
// bar thread draws when the scheduler lets it, which on a busy machine may be
// long after the frame delay.
template <class condition>
bool pumpuntil(condition done) {
  DWORD end = GetTickCount() + 5000;
  while (!done()) {
    if (static_cast<LONG>(end - GetTickCount()) <= 0) return false;
    pump(20);
  }
  return true;
}

// A popup like the loader's: 580 x 54 (at 96 DPI), no background brush,
// nothing erased.
class testwindow {
 public:
  explicit testwindow(bool visible = true, COLORREF colour = RGB(255, 255, 255), int width = 580, int height = 54)
      : width_(width), height_(height) {
    WNDCLASSEXW type{};
  type.cbSize = sizeof type;
    type.lpfnWndProc = DefWindowProcW;
    type.hInstance = GetModuleHandleW(nullptr);
    type.hbrBackground = static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
    type.lpszClassName = L"KelvaneSplashTest";
    RegisterClassExW(&type);
    window_ = CreateWindowExW(0, L"KelvaneSplashTest", L"splash test", WS_POPUP | (visible ? WS_VISIBLE : 0), 100,
                              100, width, height, nullptr, nullptr, type.hInstance, nullptr);
    pump(100);
    if (visible) fill(colour);
  }
  ~testwindow() { DestroyWindow(window_); }
  HWND handle() const { return window_; }

  void fill(COLORREF colour) const {
    HDC dc = GetDC(window_);
    HBRUSH brush = CreateSolidBrush(colour);
    RECT all{0, 0, width_, height_};
    FillRect(dc, &all, brush);
    DeleteObject(brush);
    ReleaseDC(window_, dc);
    GdiFlush();
  }
  COLORREF pixel(int x, int y) const {
    HDC dc = GetDC(window_);
    COLORREF colour = GetPixel(dc, x, y);
    ReleaseDC(window_, dc);
    return colour;
  }
  // x of the brightest green along a row of the bar, -1 without bar pixels.
  int highlight(int y) const {
    int best = -1, bestgreen = -1;
    for (int x = 40; x < 540; ++x) {
      COLORREF c = pixel(x, y);
      if (!bluish(c)) continue;
      if (GetGValue(c) > bestgreen) best = x, bestgreen = GetGValue(c);
    }
    return best;
  }
  static bool bluish(COLORREF c) { return GetBValue(c) >= 200 && GetBValue(c) > GetRValue(c) + 60; }

 private:
  int width_, height_;
  HWND window_;
};

template <typename T>
T* picture(const unsigned char* bytes, unsigned size) {
  IStream* stream = memorystream(bytes, size);
  return stream ? new T(stream, FALSE) : nullptr;
}

TEST(Pictures, DecodeWithTheirSizesFramesAndDelays) {
  ASSERT_NE(backgroundpicture(), nullptr);
  ASSERT_NE(animatedpicture(), nullptr);
  EXPECT_EQ(backgroundpicture()->GetWidth(), 580u);
  EXPECT_EQ(backgroundpicture()->GetHeight(), 54u);
  GIFImage& bar = *animatedpicture();
  EXPECT_EQ(bar.GetWidth(), 500u);
  EXPECT_EQ(bar.GetHeight(), 4u);
  ASSERT_EQ(bar.frames().count(), 21u);
  framecycle cycle = bar.frames();
  for (int pass = 0; pass < 21; ++pass) {
    cycle.advance();
    EXPECT_EQ(cycle.waitms(), 80u) << pass;
  }
  // The loop count property: 0, for ever.
  UINT size = bar.GetPropertyItemSize(PropertyTagLoopCount);
  ASSERT_GE(size, sizeof(Gdiplus::PropertyItem));
  std::vector<std::uint64_t> block((size + 7) / 8);
  auto* item = reinterpret_cast<Gdiplus::PropertyItem*>(block.data());
  ASSERT_EQ(bar.GetPropertyItem(PropertyTagLoopCount, size, item), Gdiplus::Ok);
  EXPECT_EQ(*static_cast<const std::uint16_t*>(item->value), 0u);
}

TEST(Pictures, EveryBarFrameIsWholeWithTheHighlightSweepingRightThenBack) {
  // GDI+ composes each frame over the ones before it; draw each into a bitmap.
  GIFImage* bar = picture<GIFImage>(pictures[0].bar, pictures[0].barsize);
  ASSERT_NE(bar, nullptr);
  std::vector<int> centres;
  for (UINT frame = 0; frame < 21; ++frame) {
    ASSERT_EQ(bar->SelectActiveFrame(&timedimension, frame), Gdiplus::Ok);
    Gdiplus::Bitmap canvas(500, 4, PixelFormat32bppARGB);
    {
      Gdiplus::Graphics graphics(&canvas);
      graphics.Clear(Gdiplus::Color(0, 0, 0, 0));
      graphics.DrawImage(bar, 0, 0, 500, 4);
    }
    int brightest = -1, green = -1, lit = 0;
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 500; ++x) {
        Gdiplus::Color c;
        canvas.GetPixel(x, y, &c);
        ASSERT_EQ(c.GetAlpha(), 255) << frame << " " << x << "," << y;
        ASSERT_EQ(c.GetBlue(), 255) << frame << " " << x;
        ASSERT_TRUE(c.GetRed() <= 36 && c.GetGreen() >= 191) << frame << " " << x;
        if (y == 0 && c.GetGreen() > 191) ++lit;
        if (y == 0 && c.GetGreen() > green) brightest = x, green = c.GetGreen();
      }
    EXPECT_EQ(green, 250) << frame;
    EXPECT_GE(lit, 9) << frame;
    EXPECT_LE(lit, 13) << frame;
    centres.push_back(brightest);
  }
  EXPECT_LE(centres[0], 6);
  EXPECT_GE(centres[11], 493);
  for (int k = 0; k < 21; ++k) {
    int step = centres[(k + 1) % 21] - centres[k];
    if (k < 11)
      EXPECT_TRUE(step == 44 || step == 45) << k << ": " << step;
    else
      EXPECT_TRUE(step == -48 || step == -49) << k << ": " << step;
  }
  delete bar;
}

TEST(Player, PlaysTheBarAtItsPointAndMovesItWhenStartedAgain) {
  testwindow window;
  GIFImage* bar = picture<GIFImage>(pictures[0].bar, pictures[0].barsize);
  ASSERT_NE(bar, nullptr);
  bar->StartAnimation(window.handle(), 40, 25);
  ASSERT_TRUE(bar->playing());
  ASSERT_TRUE(pumpuntil([&] { return window.highlight(25) >= 40; })) << "no bar drawn at (40, 25)";
  int first = window.highlight(25);
  EXPECT_TRUE(window.bluish(window.pixel(40, 25)));
  EXPECT_TRUE(window.bluish(window.pixel(539, 28)));
  EXPECT_FALSE(window.bluish(window.pixel(39, 25)));
  EXPECT_FALSE(window.bluish(window.pixel(540, 25)));
  EXPECT_FALSE(window.bluish(window.pixel(290, 24)));
  EXPECT_TRUE(pumpuntil([&] { return window.highlight(25) != first; })) << "the highlight should have moved";

  // Started again while playing: the same thread draws at the new point. A
  // frame the thread had begun before the call may still land at the old
  // point, so the window is cleared once the new point has been drawn.
  bar->StartAnimation(window.handle(), 40, 10);
  EXPECT_TRUE(bar->playing());
  ASSERT_TRUE(pumpuntil([&] { return window.highlight(10) >= 40; })) << "no bar drawn at (40, 10)";
  window.fill(RGB(255, 255, 255));
  ASSERT_TRUE(pumpuntil([&] { return window.highlight(10) >= 40; }));
  EXPECT_TRUE(window.bluish(window.pixel(290, 13)));
  EXPECT_FALSE(window.bluish(window.pixel(290, 25))) << "drawn at the old point too";

  // Stopped: nothing is drawn any more, and the player does not start again.
  bar->StopAnimation();
  EXPECT_FALSE(bar->playing());
  bar->StopAnimation();
  window.fill(RGB(255, 255, 255));
  bar->StartAnimation(window.handle(), 40, 25);
  EXPECT_FALSE(bar->playing());
  pump(300);
  EXPECT_EQ(window.highlight(10), -1);
  EXPECT_EQ(window.highlight(25), -1);
  delete bar;
}

TEST(Player, SingleFramePictureStartsNothing) {
  testwindow window;
  GIFImage* still = picture<GIFImage>(pictures[0].panel, pictures[0].panelsize);
  ASSERT_NE(still, nullptr);
  EXPECT_EQ(still->frames().count(), 1u);
  still->StartAnimation(window.handle(), 0, 0);
  EXPECT_FALSE(still->playing());
  pump(200);
  EXPECT_EQ(window.pixel(290, 27), RGB(255, 255, 255));
  delete still;  // the destructor stops nothing that runs
}

TEST(Player, DestroyingAPlayingBarStopsItsThread) {
  testwindow window;
  GIFImage* bar = picture<GIFImage>(pictures[0].bar, pictures[0].barsize);
  ASSERT_NE(bar, nullptr);
  bar->StartAnimation(window.handle(), 40, 25);
  pump(200);
  delete bar;
  window.fill(RGB(255, 255, 255));
  pump(300);
  EXPECT_EQ(window.highlight(25), -1);
}

// What white becomes under the whole fade: each step composites black at
// alpha (128 / 255) x step alpha.
int fadedwhite() {
  double level = 255.0;
  for (float alpha : fadealphas()) level *= 1.0 - alpha * 128.0 / 255.0;
  return static_cast<int>(std::lround(level));
}

// Where the window is clearly lighter than the faded panel: the caption.
struct lightarea {
  int count = 0, left = 580, right = -1, top = 54;
};
lightarea caption(const testwindow& window) {
  lightarea area;
  for (int y = 0; y < 30; ++y)
    for (int x = 40; x < 540; ++x)  // clear of the rounded corners
      if (GetGValue(window.pixel(x, y)) > fadedwhite() + 60) {
        ++area.count;
        area.left = std::min(area.left, x), area.right = std::max(area.right, x), area.top = std::min(area.top, y);
      }
  return area;
}

TEST(Fade, DarkensThePanelOverWhatTheWindowShowsWithTheCaption) {
  Gdiplus::Image* panel = picture<Gdiplus::Image>(pictures[0].panel, pictures[0].panelsize);
  ASSERT_NE(panel, nullptr);
  struct {
    const char16_t* family;
    bool caption;
  } cases[] = {{u"DejaVu Sans", true}, {u"No Such Font Kelvane", false}};
  for (const auto& c : cases) {
    testwindow window;
    fadein(window.handle(), *panel, layoutfor(96), c.family, fadestepms);
    // The middle, below the caption, and the corners outside the curve.
    for (int x : {30, 290, 549}) {
      COLORREF middle = window.pixel(x, 40);
      EXPECT_NEAR(GetRValue(middle), fadedwhite(), 4) << x;
      EXPECT_NEAR(GetBValue(middle), fadedwhite(), 4) << x;
    }
    for (auto [x, y] : {std::pair{0, 0}, {579, 0}, {0, 53}, {579, 53}})
      EXPECT_EQ(window.pixel(x, y), RGB(255, 255, 255)) << x << "," << y;
    EXPECT_GT(GetRValue(window.pixel(3, 3)), GetRValue(window.pixel(290, 40)));
    lightarea text = caption(window);
    if (c.caption) {
      EXPECT_GT(text.count, 20);
      EXPECT_NEAR((text.left + text.right) / 2.0, 290.0, 4.0) << "centred on the middle";
      EXPECT_GE(text.top, 3);
      EXPECT_LE(text.top, 8);
    } else {
      EXPECT_EQ(text.count, 0);
    }
  }
  delete panel;
}

TEST(Fade, RunsOnceOverTheScreenBeneathAndThenOpensNoPaintCycle) {
  // A red window takes the place on screen; the splash window is created
  // over it and, like the loader's, starts the splash before it shows.
  testwindow beneath(true, RGB(255, 0, 0));
  testwindow window(false);
  ASSERT_NE(backgroundpicture(), nullptr);
  startanimation(window.handle());
  ShowWindow(window.handle(), SW_SHOW);
  pump(100);
  PaintSplash(window.handle());
  EXPECT_EQ(backgroundpicture(), nullptr);
  EXPECT_EQ(window.pixel(0, 0), RGB(255, 0, 0)) << "the corner shows the screen beneath";
  EXPECT_EQ(window.pixel(579, 53), RGB(255, 0, 0));
  COLORREF middle = window.pixel(290, 40);
  EXPECT_NEAR(GetRValue(middle), fadedwhite(), 4);
  EXPECT_EQ(GetGValue(middle), 0);

  window.fill(RGB(255, 255, 255));
  InvalidateRect(window.handle(), nullptr, FALSE);
  PaintSplash(window.handle());
  EXPECT_EQ(window.pixel(290, 40), RGB(255, 255, 255));
  RECT update{};
  EXPECT_TRUE(GetUpdateRect(window.handle(), &update, FALSE)) << "a paint cycle validated the window";
  ValidateRect(window.handle(), nullptr);
}

TEST(Scale, BetweenStepsTheNextLargerPicturesAreDrawnDownToTheLayout) {
  const layout at = layoutfor(132);  // 137.5 %: the 150 % pictures, drawn down
  ASSERT_EQ(at.picturedpi, 144u);
  const scaledpictures* set = nullptr;
  for (unsigned i = 0; i < picturecount; ++i)
    if (pictures[i].dpi == at.picturedpi) set = &pictures[i];
  ASSERT_NE(set, nullptr);
  testwindow window(true, RGB(255, 255, 255), at.width, at.height);
  const int w = at.width, h = at.height;

  Gdiplus::Image* panel = picture<Gdiplus::Image>(set->panel, set->panelsize);
  ASSERT_NE(panel, nullptr);
  ASSERT_EQ(panel->GetWidth(), 870u);
  fadein(window.handle(), *panel, at, u"No Such Font Kelvane", 0);
  // Filled to every edge (no edge faded by filtering against what lies
  // beyond the picture), and round at the corners.
  for (auto [x, y] : {std::pair{0, h / 2}, {w - 1, h / 2}, {w / 2, 0}, {w / 2, h - 1}, {w / 2, h / 2}})
    EXPECT_NEAR(GetRValue(window.pixel(x, y)), fadedwhite(), 6) << x << "," << y;
  for (auto [x, y] : {std::pair{0, 0}, {w - 1, 0}, {0, h - 1}, {w - 1, h - 1}})
    EXPECT_GE(GetRValue(window.pixel(x, y)), 250) << x << "," << y;
  delete panel;

  GIFImage* bar = picture<GIFImage>(set->bar, set->barsize);
  ASSERT_NE(bar, nullptr);
  bar->SetDrawSize(at.bar.width, at.bar.height);
  bar->StartAnimation(window.handle(), at.bar.x, at.bar.y);
  const int right = at.bar.x + at.bar.width - 1, bottom = at.bar.y + at.bar.height - 1;
  ASSERT_TRUE(pumpuntil([&] { return window.bluish(window.pixel(at.bar.x + 100, at.bar.y)); }));
  // wine's GDI+ leaves out the first column of a picture it draws smaller
  // (seen here: 56 to 742 for 55 to 742), so the left edge is checked one in.
  for (auto [x, y] : {std::pair{at.bar.x + 1, at.bar.y}, {right, bottom}, {w / 2, bottom}})
    EXPECT_TRUE(window.bluish(window.pixel(x, y))) << x << "," << y;
  for (auto [x, y] : {std::pair{at.bar.x - 2, at.bar.y + 1}, {right + 2, at.bar.y + 1}, {w / 2, at.bar.y - 2},
                      {w / 2, bottom + 2}})
    EXPECT_FALSE(window.bluish(window.pixel(x, y))) << x << "," << y;
  delete bar;
}

// Last, since it ends GDI+ for this program.
TEST(Shutdown, StopsTheBarBeforeGdiplusEnds) {
  testwindow window;
  startanimation(window.handle());
  ASSERT_TRUE(animatedpicture()->playing());
  EXPECT_TRUE(pumpuntil([&] { return window.highlight(25) >= 40; })) << "centred at (40, 25)";
  shutdown();
  EXPECT_FALSE(animatedpicture()->playing());
  window.fill(RGB(255, 255, 255));
  startanimation(window.handle());
  pump(300);
  EXPECT_EQ(window.highlight(25), -1);
}

}  // namespace
}  // namespace kelvane::splash
