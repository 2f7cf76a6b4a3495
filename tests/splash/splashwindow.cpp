// Stands in for the loader window: the 580 x 54 popup "Kelvane" of class
// "Cwin", centred on the screen, starting the bar at WM_CREATE, fading the
// panel in at WM_PAINT, and shutting the splash down at WM_DESTROY.
//   splashwindow [milliseconds]   prints "shown" once the window is shown and
//                                 faded in, and closes itself that long after
//                                 (default 3000)
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
  int x = (GetSystemMetrics(SM_CXSCREEN) - 580) / 2, y = (GetSystemMetrics(SM_CYSCREEN) - 54) / 2;
  HWND window = CreateWindowExW(0, L"Cwin", L"Kelvane", WS_POPUP, x, y, 580, 54, nullptr, nullptr, type.hInstance,
                                nullptr);
  if (!window) return 1;
  ShowWindow(window, SW_SHOWNORMAL);
  UpdateWindow(window);  // the fade runs in here
  std::printf("shown\n");
  std::fflush(stdout);
  SetTimer(window, 1, lifetime, nullptr);

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) == 1) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
