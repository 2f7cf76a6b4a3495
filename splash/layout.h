// Where the splash's parts go at a display scale. The design is at 96 DPI
// (a 580 x 54 window, the 500 x 4 bar at (40, 25), the caption centred on
// x = 290 with its top at y = 3, 10 points high); at another DPI every value
// is scaled as common/scale.h rounds, so the parts keep their places
// relative to each other. Plain values: no drawing here.
#pragma once

namespace kelvane::splash {

inline constexpr int windowwidth = 580;  // at 96 DPI
inline constexpr int windowheight = 54;
inline constexpr float captionpoints = 10.0f;

// The pictures are drawn for these scales, 100 % to 300 % in steps of 25 %.
inline constexpr unsigned firstpicturedpi = 96;
inline constexpr unsigned picturedpistep = 24;
inline constexpr unsigned lastpicturedpi = 288;

struct box {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

struct layout {
  unsigned dpi = 96;
  int width = 0;   // of the window, and of the panel drawn into it
  int height = 0;
  box bar;         // the bar's place and size in the window
  float captionx = 0;  // the caption's centre line, the window's middle
  float captiony = 0;  // the caption's top
  float captionpixels = 0;  // the caption's em size in pixels
  unsigned picturedpi = 96;  // the scale whose pictures are drawn
};

layout layoutfor(unsigned dpi);

// The scale step whose pictures serve a DPI: the nearest at or above it,
// drawn down to the size the DPI asks for (at a step exactly, drawn as they
// are). Above 300 % the 300 % pictures are drawn larger; below 100 % the
// 100 % ones smaller.
unsigned picturedpi(unsigned dpi);

}  // namespace kelvane::splash
