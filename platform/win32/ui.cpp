#include "platform/ui.h"

#include <io.h>
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>

namespace kelvane::ui {

namespace {
HWND waitingpopup = nullptr;  // lives from showwaiting to hidewaiting

// The first visible top-level window of a process, from the top of the z-order.
HWND visiblewindow(DWORD processid) {
  for (HWND window = GetTopWindow(nullptr); window; window = GetWindow(window, GW_HWNDNEXT)) {
    DWORD owner = 0;
    if (GetWindowThreadProcessId(window, &owner) && owner == processid && IsWindowVisible(window)) return window;
  }
  return nullptr;
}

HWND childwindow(DWORD parentid) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return nullptr;
  HWND window = nullptr;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more && !window; more = Process32NextW(snapshot, &entry))
    if (entry.th32ParentProcessID == parentid && entry.th32ProcessID != parentid)
      window = visiblewindow(entry.th32ProcessID);
  CloseHandle(snapshot);
  return window;
}

}  // namespace

screensize primaryscreen() { return {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)}; }

bool outputisterminal() { return _isatty(_fileno(stdout)) != 0; }

void showwaiting(screensize screen) {
  waitingpopup = CreateWindowExW(0, L"static", nullptr, WS_POPUP | WS_VISIBLE | WS_DLGFRAME, screen.width / 2 - 90,
                                 screen.height / 2 - 90, 180, 30, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  SetWindowTextW(waitingpopup, L"Waiting ...");
}

void hidewaiting() {
  if (waitingpopup) DestroyWindow(waitingpopup);
  waitingpopup = nullptr;
}

bool bringforward(unsigned long processid) {
  if (!processid) return false;
  HWND window = childwindow(processid);
  if (!window) window = visiblewindow(processid);
  if (!window) return false;
  if (IsIconic(window)) ShowWindow(window, SW_RESTORE);
  // Allowed: this process was just started by the user's foreground program.
  SetForegroundWindow(window);
  return true;
}

void warn(const std::u16string& text) {
  MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(text.c_str()), L"Warnning", MB_OK);
}

}  // namespace kelvane::ui
