// The splash's timing and placement as plain values: the fade-in's steps and
// colour matrix, the order and delays in which the bar's frames are shown,
// and where a picture sits centred in a window. No drawing happens here.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace kelvane::splash {

// The fade-in: alpha starts at 0 and grows by 0.03 while it stays at or below
// 0.3, all in single precision. That makes eleven steps, the last at
// 0.29999998 (summed in double precision there would be only ten).
inline constexpr float fadestep = 0.03f;
inline constexpr float fadelimit = 0.3f;
inline constexpr unsigned fadestepms = 50;  // pause after drawing each step
std::vector<float> fadealphas();

// The 5 x 5 colour matrix of one step, row-major on the row vector
// (red, green, blue, alpha, 1): colour and alpha are all scaled by `alpha`.
using colourmatrix = std::array<std::array<float, 5>, 5>;
colourmatrix fadematrix(float alpha);

// Where a picture of the given size goes so that it is centred in a client
// area; a picture larger than the area gets a negative offset and stays centred.
struct point {
  int x = 0;
  int y = 0;
};
point centred(int clientwidth, int clientheight, int picturewidth, int pictureheight);

// The bar player's frame cycle. Each pass draws the active frame, makes
// frame `next` active and waits; a freshly loaded picture already shows
// frame 0, so frame 0 is drawn twice at the start and the frames then follow
// in order. The wait after selecting frame k is the delay listed for the
// frame after k (in hundredths of a second).
class framecycle {
 public:
  // Used for every frame when the picture lists fewer delays than frames.
  static constexpr std::uint32_t defaultdelay = 10;

  framecycle() = default;
  framecycle(std::uint32_t framecount, std::vector<std::uint32_t> delays);

  std::uint32_t count() const { return count_; }
  bool animated() const { return count_ > 1; }

  // Selects the next frame: returns its index and moves on.
  std::uint32_t advance();
  // What advance() selects next.
  std::uint32_t upcoming() const { return index_; }
  // Continues where another cycle over the same frames stopped, given its
  // upcoming(): returns the frame to make active before the first pass (the
  // one that cycle would have drawn next) and moves on to `next`.
  std::uint32_t resume(std::uint32_t next);
  // How long to show what the last advance() selected, in milliseconds.
  std::uint32_t waitms() const;

 private:
  std::uint32_t count_ = 0;
  std::uint32_t index_ = 0;  // the frame the next advance() selects
  std::vector<std::uint32_t> delays_;  // one per frame, or empty for the default
};

}  // namespace kelvane::splash
