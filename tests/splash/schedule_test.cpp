// The splash's timing and placement rules, without a screen.
#include "splash/schedule.h"

#include <gtest/gtest.h>

#include <vector>

namespace kelvane::splash {
namespace {

TEST(Fade, ElevenSingleAlphaStepsEndingJustBelowThreeTenths) {
  std::vector<float> alphas = fadealphas();
  ASSERT_EQ(alphas.size(), 11u);
  EXPECT_EQ(alphas.front(), 0.0f);
  EXPECT_EQ(alphas.back(), 0.29999998f);
  EXPECT_LT(alphas.back(), 0.3f);
  for (size_t k = 1; k < alphas.size(); ++k) EXPECT_EQ(alphas[k], alphas[k - 1] + 0.03f) << k;
  // The same sum kept in double precision passes 0.3 a step earlier.
  int doublesteps = 0;
  for (double alpha = 0.0; alpha <= 0.3; alpha += 0.03) ++doublesteps;
  EXPECT_EQ(doublesteps, 10);
}

TEST(Fade, MatrixScalesColourAndAlphaAndKeepsTheOffsetRow) {
  colourmatrix m = fadematrix(0.12f);
  for (int row = 0; row < 5; ++row)
    for (int column = 0; column < 5; ++column) {
      float expected = row != column ? 0.0f : row == 4 ? 1.0f : 0.12f;
      EXPECT_EQ(m[row][column], expected) << row << "," << column;
    }
}

TEST(Centring, PicturesSitInTheMiddleOfTheClientArea) {
  struct {
    int clientwidth, clientheight, picturewidth, pictureheight;
    int x, y;
  } cases[] = {
      {580, 54, 500, 4, 40, 25},   // the bar in the loader window
      {580, 54, 580, 54, 0, 0},    // a picture as large as the window
      {580, 54, 501, 5, 39, 24},   // odd differences round towards zero
      {580, 54, 600, 60, -10, -3}, // larger than the window: still centred
      {0, 0, 500, 4, -250, -2},    // a window without client area
  };
  for (const auto& c : cases) {
    point at = centred(c.clientwidth, c.clientheight, c.picturewidth, c.pictureheight);
    EXPECT_EQ(at.x, c.x) << c.picturewidth << "x" << c.pictureheight;
    EXPECT_EQ(at.y, c.y) << c.picturewidth << "x" << c.pictureheight;
  }
}

// Runs the player's passes: the frame selected in each and the wait after it.
std::vector<std::pair<std::uint32_t, std::uint32_t>> passes(framecycle cycle, int count) {
  std::vector<std::pair<std::uint32_t, std::uint32_t>> out;
  for (int i = 0; i < count; ++i) {
    std::uint32_t frame = cycle.advance();
    out.emplace_back(frame, cycle.waitms());
  }
  return out;
}

TEST(FrameCycle, SelectsInOrderAndWaitsTheNextFramesDelay) {
  // Frame 0 is already active when playback starts, so the first pass shows
  // it and selects it again; then each selected frame k is followed by the
  // delay listed for frame k + 1.
  auto seen = passes(framecycle(3, {1, 2, 0}), 7);
  std::vector<std::pair<std::uint32_t, std::uint32_t>> expected = {
      {0, 20}, {1, 0}, {2, 10}, {0, 20}, {1, 0}, {2, 10}, {0, 20}};
  EXPECT_EQ(seen, expected);
}

TEST(FrameCycle, MissingOrShortDelaysUseTheDefaultForEveryFrame) {
  const std::uint32_t fallback = framecycle::defaultdelay * 10;
  struct {
    const char* what;
    std::vector<std::uint32_t> delays;
  } cases[] = {{"no delays", {}}, {"fewer delays than frames", {3, 4}}};
  for (const auto& c : cases) {
    for (auto [frame, wait] : passes(framecycle(4, c.delays), 9)) EXPECT_EQ(wait, fallback) << c.what << " " << frame;
  }
  // More delays than frames: the extra ones are never used.
  auto seen = passes(framecycle(2, {5, 6, 7}), 4);
  EXPECT_EQ(seen, (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{0, 60}, {1, 50}, {0, 60}, {1, 50}}));
}

TEST(FrameCycle, ResumedCycleGoesOnWhereAnotherStopped) {
  framecycle first(5, {1, 2, 3, 4, 5});
  for (int i = 0; i < 7; ++i) first.advance();  // selected 0, 0.. 0, 1, 2, 3, 4, 0, 1 (the first pass shows frame 0)
  framecycle second(5, {1, 2, 3, 4, 5});
  // The first would draw frame 1 (active) next, then select 2: so does the second.
  EXPECT_EQ(second.resume(first.upcoming()), 1u);
  EXPECT_EQ(passes(second, 3), passes(first, 3));
  // Out-of-range positions wrap; a cycle without frames stays empty.
  EXPECT_EQ(framecycle(3, {}).resume(4), 0u);
  EXPECT_EQ(framecycle().resume(2), 0u);
}

TEST(FrameCycle, OnlySeveralFramesAnimate) {
  EXPECT_FALSE(framecycle().animated());
  EXPECT_FALSE(framecycle(1, {8}).animated());
  EXPECT_TRUE(framecycle(21, std::vector<std::uint32_t>(21, 8)).animated());
  framecycle empty;
  EXPECT_EQ(empty.advance(), 0u);
  EXPECT_EQ(empty.waitms(), 0u);
}

}  // namespace
}  // namespace kelvane::splash
