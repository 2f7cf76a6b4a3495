#include "platform/ui.h"

#include <io.h>
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>

namespace kelvane::ui {

namespace {
HWND waitingpopup = nullptr;  // lives from showwaiting to hidewaiting
HFONT waitingfont = nullptr;  // the popup's text font, deleted with it

// The DPI functions came with Windows 8.1 (shcore) and Windows 10 1607
// (user32); they are looked up at run time, so the program still starts on
// older systems and its import table names no DLL beyond the system's own.
template <typename Function>
Function* systemfunction(const wchar_t* dll, const char* name) {
  HMODULE module = GetModuleHandleW(dll);
  if (!module) module = LoadLibraryExW(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  FARPROC found = module ? GetProcAddress(module, name) : nullptr;
  return reinterpret_cast<Function*>(reinterpret_cast<void*>(found));
}

// The DPI the whole desktop was started with: what Windows before 8.1 applies
// to every monitor.
unsigned systemdpi() {
  HDC screen = GetDC(nullptr);
  int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
  if (screen) ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<unsigned>(dpi) : 96;
}

unsigned monitordpi(HMONITOR handle) {
  using getdpiformonitor = HRESULT WINAPI(HMONITOR, int, UINT*, UINT*);
  static const auto getdpi = systemfunction<getdpiformonitor>(L"shcore.dll", "GetDpiForMonitor");
  UINT x = 0, y = 0;
  if (getdpi && handle && getdpi(handle, 0 /* MDT_EFFECTIVE_DPI */, &x, &y) == S_OK && y) return y;
  return systemdpi();
}

// The message font at the given DPI, as Windows' own dialogs use it.
HFONT messagefont(unsigned dpi) {
  using parametersfordpi = BOOL WINAPI(UINT, UINT, void*, UINT, UINT);
  static const auto fordpi = systemfunction<parametersfordpi>(L"user32.dll", "SystemParametersInfoForDpi");
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  if (fordpi) {
    if (!fordpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi)) return nullptr;
  } else {
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) return nullptr;
    metrics.lfMessageFont.lfHeight = MulDiv(metrics.lfMessageFont.lfHeight, dpi, systemdpi());
  }
  return CreateFontIndirectW(&metrics.lfMessageFont);
}

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

monitor openingmonitor() {
  POINT pointer{0, 0};
  HMONITOR handle = GetCursorPos(&pointer) ? MonitorFromPoint(pointer, MONITOR_DEFAULTTOPRIMARY)
                                           : MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
  MONITORINFO info{};
  info.cbSize = sizeof info;
  if (!handle || !GetMonitorInfoW(handle, &info))
    return {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), systemdpi()};
  const RECT& area = info.rcMonitor;
  return {area.left, area.top, area.right - area.left, area.bottom - area.top, monitordpi(handle)};
}

bool outputisterminal() { return _isatty(_fileno(stdout)) != 0; }

unsigned windowdpi(void* window) {
  using getdpiforwindow = UINT WINAPI(HWND);
  static const auto getdpi = systemfunction<getdpiforwindow>(L"user32.dll", "GetDpiForWindow");
  HWND hwnd = static_cast<HWND>(window);
  if (UINT dpi = getdpi ? getdpi(hwnd) : 0) return dpi;
  return monitordpi(MonitorFromWindow(hwnd, MONITOR_DEFAULTTOPRIMARY));
}

void showwaiting(const monitor& on) {
  rectangle place = waitingrect(on);
  waitingpopup = CreateWindowExW(0, L"static", nullptr, WS_POPUP | WS_VISIBLE | WS_DLGFRAME, place.left, place.top,
                                 place.width, place.height, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  // Without a font of its own the control takes the system font, a bitmap
  // font made for the desktop's DPI at logon: blurred or tiny elsewhere.
  waitingfont = messagefont(on.dpi);
  if (waitingpopup && waitingfont) SendMessageW(waitingpopup, WM_SETFONT, reinterpret_cast<WPARAM>(waitingfont), FALSE);
  SetWindowTextW(waitingpopup, L"Waiting ...");
}

void hidewaiting() {
  if (waitingpopup) DestroyWindow(waitingpopup);
  waitingpopup = nullptr;
  if (waitingfont) DeleteObject(waitingfont);
  waitingfont = nullptr;
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
