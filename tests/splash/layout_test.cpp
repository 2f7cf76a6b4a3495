// Sizes and places at a display scale: the rounding, the splash's layout, the
// scale step whose pictures are drawn, and where the windows open.
#include <gtest/gtest.h>

#include "common/scale.h"
#include "platform/ui.h"
#include "splash/layout.h"

namespace kelvane::splash {
namespace {

TEST(Scaling, RoundsToTheNearestPixelWithHalvesAwayFromZero) {
  struct {
    int value;
    unsigned dpi;
    int expected;
  } cases[] = {
      {580, 96, 580}, {54, 96, 54},    {54, 120, 68},   // 67.5
      {54, 144, 81},  {54, 168, 95},   {54, 192, 108},  // 94.5
      {54, 288, 162}, {25, 144, 38},   {25, 120, 31},   // 37.5, 31.25
      {4, 110, 5},    {0, 144, 0},     {-90, 120, -113},  // 4.58, -112.5
      {580, 72, 435},
  };
  for (const auto& c : cases) EXPECT_EQ(scaled(c.value, c.dpi), c.expected) << c.value << " at " << c.dpi;
}

TEST(Layout, EveryPlaceAndSizeScalesFromThe96DpiDesign) {
  struct {
    unsigned dpi;
    int width, height;
    box bar;
    unsigned pictures;
  } cases[] = {
      {96, 580, 54, {40, 25, 500, 4}, 96},
      {120, 725, 68, {50, 31, 625, 5}, 120},
      {144, 870, 81, {60, 38, 750, 6}, 144},
      {192, 1160, 108, {80, 50, 1000, 8}, 192},
      {288, 1740, 162, {120, 75, 1500, 12}, 288},
      {110, 665, 62, {46, 29, 573, 5}, 120},  // between steps: the next larger pictures, drawn down
      {384, 2320, 216, {160, 100, 2000, 16}, 288},  // beyond 300 %: the largest, drawn up
  };
  for (const auto& c : cases) {
    layout at = layoutfor(c.dpi);
    EXPECT_EQ(at.width, c.width) << c.dpi;
    EXPECT_EQ(at.height, c.height) << c.dpi;
    EXPECT_EQ(at.bar.x, c.bar.x) << c.dpi;
    EXPECT_EQ(at.bar.y, c.bar.y) << c.dpi;
    EXPECT_EQ(at.bar.width, c.bar.width) << c.dpi;
    EXPECT_EQ(at.bar.height, c.bar.height) << c.dpi;
    EXPECT_EQ(at.picturedpi, c.pictures) << c.dpi;
    EXPECT_FLOAT_EQ(at.captionx, at.width / 2.0f) << "the caption is centred, " << c.dpi;
    EXPECT_FLOAT_EQ(at.captionpixels, 10.0f * c.dpi / 72.0f) << "10 points, " << c.dpi;
  }
  EXPECT_FLOAT_EQ(layoutfor(96).captiony, 3.0f);
  EXPECT_FLOAT_EQ(layoutfor(192).captiony, 6.0f);
  EXPECT_EQ(layoutfor(0).width, 580) << "an unknown DPI is taken as 96";
}

TEST(Layout, PicturesComeFromTheNearestStepAtOrAboveTheDpi) {
  struct {
    unsigned dpi, step;
  } cases[] = {{72, 96}, {96, 96}, {97, 120}, {120, 120}, {121, 144}, {168, 168}, {200, 216}, {288, 288}, {480, 288}};
  for (const auto& c : cases) EXPECT_EQ(picturedpi(c.dpi), c.step) << c.dpi;
}

TEST(Windows, CentredOnTheMonitorTheyOpenOnAtItsScale) {
  struct {
    ui::monitor on;
    ui::rectangle splash, waiting;
  } cases[] = {
      // The 96-DPI places of a 1920 x 1080 screen, then the same screen scaled.
      {{0, 0, 1920, 1080, 96}, {670, 513, 580, 54}, {870, 450, 180, 30}},
      {{0, 0, 1920, 1080, 144}, {525, 499, 870, 81}, {825, 405, 270, 45}},
      {{0, 0, 3840, 2160, 192}, {1340, 1026, 1160, 108}, {1740, 900, 360, 60}},
      {{0, 0, 1280, 1024, 120}, {277, 478, 725, 68}, {527, 399, 225, 38}},
      // A second monitor left of the primary one.
      {{-2560, 0, 2560, 1440, 192}, {-1860, 666, 1160, 108}, {-1460, 540, 360, 60}},
      // Narrower than the window: partly off the monitor, still centred.
      {{0, 0, 500, 400, 96}, {-40, 173, 580, 54}, {160, 110, 180, 30}},
  };
  for (const auto& c : cases) {
    ui::rectangle splash = ui::centredwindow(c.on, windowwidth, windowheight);
    ui::rectangle waiting = ui::waitingrect(c.on);
    for (auto [got, expected] : {std::pair{splash, c.splash}, {waiting, c.waiting}}) {
      EXPECT_EQ(got.left, expected.left) << c.on.width << " at " << c.on.dpi;
      EXPECT_EQ(got.top, expected.top) << c.on.width << " at " << c.on.dpi;
      EXPECT_EQ(got.width, expected.width) << c.on.width << " at " << c.on.dpi;
      EXPECT_EQ(got.height, expected.height) << c.on.width << " at " << c.on.dpi;
    }
  }
}

}  // namespace
}  // namespace kelvane::splash
