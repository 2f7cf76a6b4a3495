// The splash's two pictures, made by tools/splashart.py at build time and
// compiled in as constant bytes.
#pragma once

namespace kelvane::splash {

extern const unsigned char panel_png[];  // 580 x 54 translucent rounded panel, PNG
extern const unsigned panel_png_size;
extern const unsigned char bar_gif[];    // 500 x 4 animated bar, GIF, 21 frames
extern const unsigned bar_gif_size;

}  // namespace kelvane::splash
