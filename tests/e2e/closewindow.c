/* closewindow CLASS: asks the top-level window of that class to close, as a
   user's close request does (WM_CLOSE). Exit code 1 when there is none. */
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  HWND window = argc == 2 ? FindWindowW(argv[1], NULL) : NULL;
  if (!window) return 1;
  return PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 1;
}
