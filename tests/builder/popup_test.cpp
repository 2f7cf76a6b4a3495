// The builder's "Waiting ..." popup under wine at several display scales: its
// rectangle is the 96-DPI one scaled for the monitor, and its text is set in
// a font of that scale that fits it.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>

#include "platform/ui.h"

namespace kelvane::ui {
namespace {

struct shown {
  RECT place{};
  RECT client{};
  int fontheight = 0;
  SIZE text{};
};

shown showat(const monitor& on) {
  showwaiting(on);
  shown seen;
  HWND popup = FindWindowW(L"Static", L"Waiting ...");
  EXPECT_NE(popup, nullptr);
  if (!popup) return seen;
  GetWindowRect(popup, &seen.place);
  GetClientRect(popup, &seen.client);
  HFONT font = reinterpret_cast<HFONT>(SendMessageW(popup, WM_GETFONT, 0, 0));
  EXPECT_NE(font, nullptr) << "the popup has a font of its own";
  LOGFONTW described{};
  if (font && GetObjectW(font, sizeof described, &described)) seen.fontheight = std::abs(described.lfHeight);
  if (HDC dc = GetDC(popup)) {
    HGDIOBJ previous = SelectObject(dc, font);
    GetTextExtentPoint32W(dc, L"Waiting ...", 11, &seen.text);
    SelectObject(dc, previous);
    ReleaseDC(popup, dc);
  }
  hidewaiting();
  EXPECT_EQ(FindWindowW(L"Static", L"Waiting ..."), nullptr) << "gone after hidewaiting";
  return seen;
}

TEST(WaitingPopup, ScaledPlaceAndFontForTheMonitorsDpi) {
  int heights[3] = {};
  const unsigned dpis[3] = {96, 144, 192};
  for (int i = 0; i < 3; ++i) {
    monitor on{0, 0, 1920, 1080, dpis[i]};
    rectangle expected = waitingrect(on);
    shown seen = showat(on);
    EXPECT_EQ(seen.place.left, expected.left) << dpis[i];
    EXPECT_EQ(seen.place.top, expected.top) << dpis[i];
    EXPECT_EQ(seen.place.right - seen.place.left, expected.width) << dpis[i];
    EXPECT_EQ(seen.place.bottom - seen.place.top, expected.height) << dpis[i];
    EXPECT_LE(seen.text.cx, seen.client.right) << "the text fits at " << dpis[i];
    EXPECT_LE(seen.text.cy, seen.client.bottom) << "the text fits at " << dpis[i];
    heights[i] = seen.fontheight;
  }
  ASSERT_GT(heights[0], 0);
  EXPECT_NEAR(heights[1], heights[0] * 3 / 2.0, 1.0);
  EXPECT_NEAR(heights[2], heights[0] * 2, 1.0);
}

}  // namespace
}  // namespace kelvane::ui
