#include "platform/ui.h"

#include "common/scale.h"

namespace kelvane::ui {

rectangle centredwindow(const monitor& on, int width96, int height96) {
  int width = scaled(width96, on.dpi), height = scaled(height96, on.dpi);
  return {on.left + (on.width - width) / 2, on.top + (on.height - height) / 2, width, height};
}

rectangle waitingrect(const monitor& on) {
  int offset = scaled(90, on.dpi);
  return {on.left + on.width / 2 - offset, on.top + on.height / 2 - offset, scaled(180, on.dpi), scaled(30, on.dpi)};
}

}  // namespace kelvane::ui
