// Display scale. Every size and position of the program's windows is
// designed at 96 DPI (100 %) and multiplied by the DPI of the monitor the
// window is on.
#pragma once

namespace kelvane {

inline constexpr unsigned basedpi = 96;

// value * dpi / 96 rounded to the nearest whole pixel, halves away from zero,
// as Win32's MulDiv rounds: 54 is 68 at 120 DPI (67.5) and 81 at 144.
int scaled(int value, unsigned dpi);

}  // namespace kelvane
