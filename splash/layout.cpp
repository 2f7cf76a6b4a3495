#include "splash/layout.h"

#include "common/scale.h"

namespace kelvane::splash {

unsigned picturedpi(unsigned dpi) {
  if (dpi <= firstpicturedpi) return firstpicturedpi;
  if (dpi >= lastpicturedpi) return lastpicturedpi;
  return (dpi + picturedpistep - 1) / picturedpistep * picturedpistep;
}

layout layoutfor(unsigned dpi) {
  if (dpi == 0) dpi = basedpi;
  layout at;
  at.dpi = dpi;
  at.width = scaled(windowwidth, dpi);
  at.height = scaled(windowheight, dpi);
  at.bar = {scaled(40, dpi), scaled(25, dpi), scaled(500, dpi), scaled(4, dpi)};
  const float factor = static_cast<float>(dpi) / basedpi;
  at.captionx = at.width / 2.0f;  // 290 at 96 DPI: the middle, whatever the rounding
  at.captiony = 3.0f * factor;
  at.captionpixels = captionpoints * static_cast<float>(dpi) / 72.0f;  // a point is 1/72 inch
  at.picturedpi = picturedpi(dpi);
  return at;
}

}  // namespace kelvane::splash
