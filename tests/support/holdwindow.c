/* Holds one hidden window until it is killed, started once per test session
   by cmake/wine-session.sh with its output going nowhere. Its window makes
   wine start its desktop process on the session's behalf, and keeps it alive:
   otherwise the first test program to ask for a window would start the
   desktop with that test's output pipes, and the desktop would keep them
   open; and a program asking for a window in the second in which the desktop
   ends after the last window can get none.
   holdwindow [READY_FILE]: READY_FILE is created once the window exists. */
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  HWND window = CreateWindowExW(0, L"static", L"kelvane-hold", WS_POPUP, 0, 0, 1, 1, NULL, NULL,
                                GetModuleHandleW(NULL), NULL);
  if (!window) return 1;
  if (argc > 1) {
    HANDLE ready = CreateFileW(argv[1], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (ready == INVALID_HANDLE_VALUE) return 1;
    CloseHandle(ready);
  }
  MSG message;
  while (GetMessageW(&message, NULL, 0, 0) > 0) DispatchMessageW(&message);
  return 0;
}
