// The loader window on Windows: a borderless popup, 580 x 54 at 96 DPI and
// scaled to its monitor's DPI, that shows the splash while the worker thread
// extracts, and runs the hand-off to the setup program when the worker sends
// WM_UNZIPDONE.
#include "loader/loaderwindow.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "common/log.h"
#include "loader/setupstart.h"
#include "loader/workspace.h"
#include "loader/worker.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform/ui.h"
#include "resources/icon.h"
#include "splash/splash.h"

namespace kelvane {

namespace {

// Sent by the worker when extraction has ended; returns after the hand-off.
constexpr UINT WM_UNZIPDONE = WM_USER + 1;

// Set once the window has been shown (or hidden, when unattended) and
// painted. The worker runs from WM_CREATE, inside CreateWindowExW, so without
// it a quick worker's box could come up before the window it belongs to.
HANDLE windowshown = nullptr;

// Written before the worker starts, read by it and by the hand-off.
bool attendedrun = true;
// The loader's exit code, set by the hand-off (0 when the window is closed before it).
int loaderexit = 0;

const wchar_t* w(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

// The first top-level window, from the top of the z-order, owned by the process.
HWND findprocesswindow(DWORD processid) {
  for (HWND window = GetTopWindow(nullptr); window; window = GetWindow(window, GW_HWNDNEXT)) {
    DWORD owner = 0;
    if (GetWindowThreadProcessId(window, &owner) && owner == processid) return window;
  }
  return nullptr;
}

// Starts the setup program with no arguments in the loader's current folder
// and keeps its process handle for the wait.
class win32starter : public programstarter {
 public:
  explicit win32starter(HWND owner) : owner_(owner) {}
  ~win32starter() override {
    if (process_) CloseHandle(process_);
  }

  // Inherits the loader's environment (KZQAUTOI, KZQPATHI) and current folder.
  unsigned long createprocess(const std::u16string& program) override {
#ifdef KELVANE_ELEVATION_TEST
    return startelevationrequired;  // test build: as if Windows asked for elevation
#endif
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(w(program), nullptr, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
      return GetLastError();
    CloseHandle(process.hThread);
    process_ = process.hProcess;
    return 0;
  }

  // The default verb, not "runas": Windows then starts the program the way a
  // double click in Explorer does and elevates it exactly as its manifest or
  // installer detection asks (which is what ERROR_ELEVATION_REQUIRED said),
  // where "runas" would demand full administrator rights whatever the program
  // declares. The folder is given because an elevated program would otherwise
  // start in the system folder.
  unsigned long shellstart(const std::u16string& program) override {
#ifdef KELVANE_ELEVATION_TEST
    if (auto error = env::get("KELVANE_TEST_SHELLSTART_ERROR")) return std::stoul(*error);
#endif
    std::u16string folder = towide(fs::currentfolder());
    // The shell may hand the start to COM extensions, which need COM here.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    SHELLEXECUTEINFOW start{};
    start.cbSize = sizeof start;
    start.fMask = SEE_MASK_NOCLOSEPROCESS;  // a handle to wait on
    start.hwnd = owner_;  // the consent prompt belongs to the installer
    start.lpVerb = nullptr;
    start.lpFile = w(program);
    start.lpParameters = nullptr;
    start.lpDirectory = w(folder);
    start.nShow = SW_SHOW;
    if (!ShellExecuteExW(&start)) return GetLastError();
    if (!start.hProcess) return ERROR_INVALID_HANDLE;  // started through DDE: nothing to wait for
    process_ = start.hProcess;
    return 0;
  }

  HANDLE process() const { return process_; }

 private:
  HWND owner_;
  HANDLE process_ = nullptr;
};

// Starts the program and waits for it without limit. Its exit code, or none
// when it could not be started.
std::optional<unsigned long> runandwait(HWND window, const std::u16string& program) {
  win32starter starter(window);
  if (startsetupprogram(starter, program) != 0) return std::nullopt;
  // Only a window that already exists can be brought forward; no waiting.
  SetActiveWindow(findprocesswindow(GetProcessId(starter.process())));
  WaitForSingleObject(starter.process(), INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(starter.process(), &code);
  return code;
}

// Copies a file to a new name. An existing target (an "uninstall.exe" that
// came from the archive itself) is kept; a copy that fails halfway, on a full
// disk say, leaves nothing under the target's name.
void copynew(const std::u16string& from, const std::u16string& to) {
  bool existed = GetFileAttributesW(w(to)) != INVALID_FILE_ATTRIBUTES;
  if (!CopyFileW(w(from), w(to), TRUE) && !existed) DeleteFileW(w(to));
}

// Prepares the uninstaller beside the setup program, then runs the setup
// program, when decideending says so, and sets the loader's exit code. Wide
// paths throughout, so any temporary folder name works.
void handoff(HWND window, extraction outcome) {
  ending end = decideending(attendedrun, outcome, setupstart::nottried, 0);
  if (end.startsetup) {
    std::u16string setup = widetemppath() + u"setup\\";
    copynew(setup + u"qSetup.exe", setup + u"uninstall.exe");
    ReplaceExeIcon(setup + u"uninstallicon.ico", setup + u"uninstall.exe");
    ShowWindow(window, SW_HIDE);
    std::optional<unsigned long> code = runandwait(window, setup + u"qSetup.exe");
    end = decideending(attendedrun, outcome, code ? setupstart::ran : setupstart::failed, code.value_or(0));
    if (code) KLOG("handoff", "the setup program ended with %lu\n", *code);
  } else {
    KLOG("handoff", "the setup program is not started: the package was not extracted whole and intact\n");
  }
  loaderexit = end.exitcode;
  DestroyWindow(window);
}

DWORD WINAPI workerentry(void* window) {
  unzipthread(
      attendedrun, [] { WaitForSingleObject(windowshown, INFINITE); },
      [window](extraction outcome) {
        SendMessageW(static_cast<HWND>(window), WM_UNZIPDONE, static_cast<WPARAM>(outcome), 0);
      });
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
      handoff(window, static_cast<extraction>(wparam));
      return 0;
    case WM_DPICHANGED:
      // Moved to a monitor of another scale: Windows suggests the rectangle.
      if (const auto* place = reinterpret_cast<const RECT*>(lparam))
        splash::dpichanged(window, HIWORD(wparam),
                           {place->left, place->top, place->right - place->left, place->bottom - place->top});
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
  void measurescreen() { screen_ = ui::openingmonitor(); }

  // Registers "Cwin" and creates the popup centred on the monitor it opens
  // on, sized for that monitor's DPI; shown unless the run is unattended.
  // False when either step fails.
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
    ui::rectangle place = ui::centredwindow(screen_, splash::windowwidth, splash::windowheight);
    HWND window = CreateWindowExW(0, L"Cwin", L"Kelvane", WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, place.left,
                                  place.top, place.width, place.height, nullptr, nullptr, instance, nullptr);
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
  ui::monitor screen_;
};

}  // namespace

int runloader(int argc) {
  attendedrun = !unattended(argc);
  loaderwindow window;
  window.measurescreen();
  // Without a window or a worker nothing would ever end the message loop.
  if (!window.createwindow(argc)) return exitcannotgoon;
  window.messageloop();
  return loaderexit;
}

}  // namespace kelvane
