// The loader window on Windows: a borderless 580 x 54 popup that shows the
// splash while the worker thread extracts, and runs the hand-off to the setup
// program when the worker sends WM_UNZIPDONE.
#include "loader/loaderwindow.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "common/log.h"
#include "loader/workspace.h"
#include "loader/worker.h"
#include "platform/ui.h"
#include "resources/icon.h"
#include "splash/splash.h"

namespace kelvane {

namespace {

// Sent by the worker when extraction has ended; returns after the hand-off.
constexpr UINT WM_UNZIPDONE = WM_USER + 1;
constexpr int windowwidth = 580;
constexpr int windowheight = 54;

// Set once the window has been shown (or hidden, when unattended) and
// painted. The worker runs from WM_CREATE, inside CreateWindowExW, so without
// it a quick worker's box could come up before the window it belongs to.
HANDLE windowshown = nullptr;

const wchar_t* w(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

// The first top-level window, from the top of the z-order, owned by the process.
HWND findprocesswindow(DWORD processid) {
  for (HWND window = GetTopWindow(nullptr); window; window = GetWindow(window, GW_HWNDNEXT)) {
    DWORD owner = 0;
    if (GetWindowThreadProcessId(window, &owner) && owner == processid) return window;
  }
  return nullptr;
}

// Starts the program with no arguments, the loader's environment and current
// folder, and waits for it without limit. A program that cannot be started
// ends the loader at once with -1: there is nothing left to install with.
void runandwait(const std::u16string& program) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(w(program), nullptr, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
    KLOG("runandwait", "cannot start the setup program (error %lu)\n", GetLastError());
    std::exit(-1);
  }
  // Only a window that already exists can be brought forward; no waiting.
  SetActiveWindow(findprocesswindow(process.dwProcessId));
  CloseHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hProcess);
}

// Prepares the uninstaller beside the setup program, then runs the setup
// program. Wide paths throughout, so any temporary folder name works.
void handoff(HWND window) {
  std::u16string setup = widetemppath() + u"setup\\";
  // An "uninstall.exe" left in place by the archive itself is kept.
  CopyFileW(w(setup + u"qSetup.exe"), w(setup + u"uninstall.exe"), TRUE);
  ReplaceExeIcon(setup + u"uninstallicon.ico", setup + u"uninstall.exe");
  ShowWindow(window, SW_HIDE);
  runandwait(setup + u"qSetup.exe");
  DestroyWindow(window);
}

DWORD WINAPI workerentry(void* window) {
  unzipthread([] { WaitForSingleObject(windowshown, INFINITE); },
              [window] { SendMessageW(static_cast<HWND>(window), WM_UNZIPDONE, 0, 0); });
  return 0;
}

LRESULT CALLBACK loaderwndproc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE: {
      splash::startanimation(window);
      HANDLE worker = CreateThread(nullptr, 0, workerentry, window, 0, nullptr);
      if (!worker) return -1;  // the window is not created; runloader reports it
      CloseHandle(worker);
      return 0;
    }
    case WM_PAINT:
      splash::PaintSplash(window);
      // Once the fade is over nothing paints: validate, or WM_PAINT never stops.
      ValidateRect(window, nullptr);
      return 0;
    case WM_UNZIPDONE:
      handoff(window);
      return 0;
    case WM_DESTROY:
      // The bar's thread stops before GDI+ goes away.
      splash::shutdown();
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

// The loader's one window; lives for the whole of loader mode.
class loaderwindow {
 public:
  void measurescreen() { screen_ = ui::primaryscreen(); }

  // Registers "Cwin" and creates the popup centred on the primary screen;
  // shown unless the run is unattended. False when either step fails.
  bool createwindow(int argc) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowclass{};
    windowclass.cbSize = sizeof windowclass;
    windowclass.style = CS_HREDRAW | CS_VREDRAW;
    windowclass.lpfnWndProc = loaderwndproc;
    windowclass.hInstance = instance;
    windowclass.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    windowclass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    // No background: the splash panel is composited over whatever was beneath.
    windowclass.hbrBackground = static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
    windowclass.lpszClassName = L"Cwin";
    if (!RegisterClassExW(&windowclass)) {
      KLOG("loaderwindow::createwindow", "cannot register the window class (error %lu)\n", GetLastError());
      return false;
    }
    windowshown = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!windowshown) {
      KLOG("loaderwindow::createwindow", "cannot create an event (error %lu)\n", GetLastError());
      return false;
    }
    HWND window = CreateWindowExW(0, L"Cwin", L"Kelvane", WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
                                  (screen_.width - windowwidth) / 2, (screen_.height - windowheight) / 2,
                                  windowwidth, windowheight, nullptr, nullptr, instance, nullptr);
    if (!window) {
      KLOG("loaderwindow::createwindow", "cannot create the window or start the worker (error %lu)\n",
           GetLastError());
      return false;
    }
    ShowWindow(window, unattended(argc) ? SW_HIDE : SW_SHOWNORMAL);
    UpdateWindow(window);
    SetEvent(windowshown);
    return true;
  }

  int messageloop() {
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
  }

 private:
  ui::screensize screen_;
};

}  // namespace

int runloader(int argc) {
  loaderwindow window;
  window.measurescreen();
  // Without a window or a worker nothing would ever end the message loop.
  if (!window.createwindow(argc)) return -1;
  window.messageloop();
  return 0;
}

}  // namespace kelvane
