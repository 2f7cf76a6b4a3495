/* windowstate TITLE [minimize]: finds the top-level window of that title.
   With "minimize" it minimizes it; without, it checks that the window is the
   foreground window and not minimized. Exit code 0 when done or so, 1 when
   not so, 2 when there is no such window. */
#include <windows.h>
#include <wchar.h>

int wmain(int argc, wchar_t** argv) {
  HWND window = argc >= 2 ? FindWindowW(NULL, argv[1]) : NULL;
  if (!window) return 2;
  if (argc == 3 && wcscmp(argv[2], L"minimize") == 0) return ShowWindow(window, SW_MINIMIZE), IsIconic(window) ? 0 : 1;
  return GetForegroundWindow() == window && !IsIconic(window) ? 0 : 1;
}
