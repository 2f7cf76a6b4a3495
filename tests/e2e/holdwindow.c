/* Holds one hidden window until it is killed. wine's desktop process ends
   about a second after the last program that had a window; a program that
   asks for a window in that moment can get none. The end-to-end suite keeps
   this running for its whole session. */
#include <windows.h>

int wmain(void) {
  HWND window = CreateWindowExW(0, L"static", L"kelvane-hold", WS_POPUP, 0, 0, 1, 1, NULL, NULL,
                                GetModuleHandleW(NULL), NULL);
  if (!window) return 1;
  MSG message;
  while (GetMessageW(&message, NULL, 0, 0) > 0) DispatchMessageW(&message);
  return 0;
}
