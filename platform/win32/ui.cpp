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

unsigned long long creationtime(DWORD processid) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processid);
  if (!process) return 0;
  FILETIME created{}, exited{}, kernel{}, user{};
  unsigned long long time = 0;
  if (GetProcessTimes(process, &created, &exited, &kernel, &user))
    time = (static_cast<unsigned long long>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
  CloseHandle(process);
  return time;
}

// A process the holder started: the parent id names it, and (as a parent id
// outlives its process and may be reused) it was created after the holder.
HWND childwindow(const userlock::process& parent) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return nullptr;
  HWND window = nullptr;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more && !window; more = Process32NextW(snapshot, &entry))
    if (entry.th32ParentProcessID == parent.id && entry.th32ProcessID != parent.id &&
        creationtime(entry.th32ProcessID) >= parent.created)
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

bool bringforward(const userlock::process& holder) {
  if (!userlock::stillrunning(holder)) return false;
  HWND window = childwindow(holder);
  if (!window) window = visiblewindow(holder.id);
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
