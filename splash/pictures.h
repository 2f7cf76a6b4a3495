// The splash's pictures, made by tools/splashart.py at build time for every
// scale step of layout.h and compiled in as constant bytes.
#pragma once

namespace kelvane::splash {

struct scaledpictures {
  unsigned dpi;                // the scale they are drawn for
  const unsigned char* panel;  // the translucent rounded panel, PNG, the window's size at that DPI
  unsigned panelsize;
  const unsigned char* bar;    // the animated bar, GIF, 21 frames
  unsigned barsize;
};

extern const scaledpictures pictures[];  // by rising DPI, the first for 96
extern const unsigned picturecount;

}  // namespace kelvane::splash
