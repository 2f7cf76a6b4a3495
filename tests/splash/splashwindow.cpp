// Stands in for the loader window: the popup "Kelvane" of class "Cwin",
// 580 x 54 at 96 DPI, scaled and centred on its monitor as the loader's,
// starting the bar at WM_CREATE, fading the panel in at WM_PAINT, following
// WM_DPICHANGED, and shutting the splash down at WM_DESTROY.
//   splashwindow [milliseconds [dpi]]
//     prints "shown" once the window is shown and faded in, and closes itself
//     that long after (default 3000); with a DPI, it then sends itself
//     WM_DPICHANGED for that DPI, with the rectangle centred on the monitor
//     as Windows would suggest it, and prints "moved"
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "splash/splash.h"

namespace {

LRESULT CALLBACK windowproc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE:
      kelvane::splash::startanimation(window);
      return 0;
    case WM_PAINT:
      kelvane::splash::PaintSplash(window);
      ValidateRect(window, nullptr);
      return 0;
    case WM_DPICHANGED: {
      const RECT* place = reinterpret_cast<const RECT*>(lparam);
      kelvane::splash::dpichanged(window, HIWORD(wparam),
                                  {place->left, place->top, place->right - place->left, place->bottom - place->top});
      return 0;
    }
    case WM_TIMER:
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      kelvane::splash::shutdown();
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  UINT lifetime = argc > 1 ? static_cast<UINT>(std::wcstoul(argv[1], nullptr, 10)) : 3000;
  unsigned movedpi = argc > 2 ? static_cast<unsigned>(std::wcstoul(argv[2], nullptr, 10)) : 0;
  kelvane::splash::startup();
  kelvane::splash::LoadSplashImages();

  WNDCLASSEXW type{};
  type.cbSize = sizeof type;
  type.style = CS_HREDRAW | CS_VREDRAW;
  type.lpfnWndProc = windowproc;
  type.hInstance = GetModuleHandleW(nullptr);
  type.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
  type.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  type.hbrBackground = static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
  type.lpszClassName = L"Cwin";
  RegisterClassExW(&type);
  kelvane::ui::monitor screen = kelvane::ui::openingmonitor();
  kelvane::ui::rectangle place =
      kelvane::ui::centredwindow(screen, kelvane::splash::windowwidth, kelvane::splash::windowheight);
  HWND window = CreateWindowExW(0, L"Cwin", L"Kelvane", WS_POPUP, place.left, place.top, place.width, place.height,
                                nullptr, nullptr, type.hInstance, nullptr);
  if (!window) return 1;
  ShowWindow(window, SW_SHOWNORMAL);
  UpdateWindow(window);  // the fade runs in here
  std::printf("shown\n");
  std::fflush(stdout);
  if (movedpi) {
    screen.dpi = movedpi;
    kelvane::ui::rectangle moved =
        kelvane::ui::centredwindow(screen, kelvane::splash::windowwidth, kelvane::splash::windowheight);
    RECT suggested{moved.left, moved.top, moved.left + moved.width, moved.top + moved.height};
    SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(movedpi, movedpi), reinterpret_cast<LPARAM>(&suggested));
    std::printf("moved\n");
    std::fflush(stdout);
  }
  SetTimer(window, 1, lifetime, nullptr);

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) == 1) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
