// The loader window on Windows: a borderless popup, 580 x 54 at 96 DPI and
// scaled to its monitor's DPI, that shows the splash while the worker thread
// extracts, and runs the hand-off to the setup program when the worker sends
// WM_UNZIPDONE.
#include "loader/loaderwindow.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "common/log.h"
#include "loader/elevatedrun.h"
#include "loader/setupstart.h"
#include "loader/workspace.h"
#include "loader/worker.h"
#include "platform/commandline.h"
#include "platform/elevation.h"
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

// The options of this run; written once by runloader, before the worker starts.
loaderoptions options;
// The loader's exit code, set by runloader and then by the hand-off.
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

// Waits for the process to end while answering this thread's messages: a
// setup program that broadcasts (WM_SETTINGCHANGE after changing PATH) or
// talks DDE waits for every top-level window, the hidden loader's too. A quit
// request met meanwhile is posted again for the message loop.
DWORD waitanswering(HANDLE process) {
  bool quit = false;
  int quitcode = 0;
  // MWMO_INPUTAVAILABLE: also wakes for messages already in the queue.
  while (MsgWaitForMultipleObjectsEx(1, &process, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE) == WAIT_OBJECT_0 + 1) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        quit = true;
        quitcode = static_cast<int>(message.wParam);
        continue;
      }
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  if (quit) PostQuitMessage(quitcode);
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  return code;
}

// Starts the setup program, or the package again elevated, and keeps the
// process handle for the wait.
class win32starter : public programstarter {
 public:
  explicit win32starter(HWND owner) : owner_(owner) {}
  ~win32starter() override {
    if (process_) CloseHandle(process_);
  }

  // Inherits the loader's environment (KZQAUTOI, KZQPATHI) and current
  // folder. The command line is the program's quoted path and nothing else, so
  // its argv[0] is one argument whatever the temporary folder's name holds.
  unsigned long createprocess(const std::u16string& program) override {
#ifdef KELVANE_ELEVATION_TEST
    // Test build: as if Windows asked for elevation, except in the elevated instance.
    if (!options.relaunched) return startelevationrequired;
#endif
    std::u16string line = commandline(program);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(w(program), reinterpret_cast<wchar_t*>(line.data()), nullptr, nullptr, TRUE, 0, nullptr,
                        nullptr, &startup, &process))
      return GetLastError();
    CloseHandle(process.hThread);
    process_ = process.hProcess;
    return 0;
  }

  // "runas" on the package itself: the consent prompt names the package, which
  // the vendor signed. Its path as the elevated process can open it (a UNC
  // name for a mapped drive); the current folder is passed on, as an elevated
  // program would otherwise start in the system folder.
  unsigned long relaunchelevated(const std::vector<std::string>& args) override {
#ifdef KELVANE_ELEVATION_TEST
    if (auto error = env::get("KELVANE_TEST_SHELLSTART_ERROR")) return std::stoul(*error);
    // Test build: wine passes this environment on, where Windows gives an
    // elevated program a fresh one; the values must arrive by the arguments.
    env::unset("KZQAUTOI");
    env::unset("KZQPATHI");
#endif
    std::u16string package = elevation::programpath();
    if (package.empty()) return ERROR_FILE_NOT_FOUND;
    std::vector<std::u16string> wide;
    for (const auto& a : args) wide.push_back(towide(a));
    std::u16string parameters = argumentline(wide);
    std::u16string folder = elevation::reachablepath(towide(fs::currentfolder()));
    // The shell may hand the start to COM extensions, which need COM here.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    SHELLEXECUTEINFOW start{};
    start.cbSize = sizeof start;
    start.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;  // a handle to wait on
    start.hwnd = owner_;  // the consent prompt belongs to the installer
    start.lpVerb = L"runas";
    start.lpFile = w(package);
    start.lpParameters = w(parameters);
    start.lpDirectory = folder.empty() ? nullptr : w(folder);
    start.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&start)) return GetLastError();
    if (!start.hProcess) return ERROR_INVALID_HANDLE;  // nothing to wait for
    process_ = start.hProcess;
    return 0;
  }

  HANDLE process() const { return process_; }

 private:
  HWND owner_;
  HANDLE process_ = nullptr;
};

// Starts the setup program (or the elevated instance) and waits for it
// without limit, answering messages: how it went, with the exit code of what ran.
setupresult runandwait(HWND window, const std::u16string& program) {
  win32starter starter(window);
  switch (startsetupprogram(starter, program, options.relaunched, options.hidden)) {
    case setupstart::started:
      // Only a window that already exists can be brought forward; no waiting.
      SetActiveWindow(findprocesswindow(GetProcessId(starter.process())));
      return {setuprun::ran, waitanswering(starter.process())};
    case setupstart::relaunched: {
      setupresult elevated{setuprun::elevated, waitanswering(starter.process())};
      KLOG("runandwait", "the elevated instance ended with %#lx\n", elevated.code);
      return elevated;
    }
    case setupstart::failed:
      break;
  }
  return {setuprun::failed, 0};
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
  ending end = decideending(options, outcome);
  if (end.startsetup) {
    std::u16string setup = widetemppath() + u"setup\\";
    copynew(setup + u"qSetup.exe", setup + u"uninstall.exe");
    ReplaceExeIcon(setup + u"uninstallicon.ico", setup + u"uninstall.exe");
    ShowWindow(window, SW_HIDE);
    setupresult ran = runandwait(window, setup + u"qSetup.exe");
    end = decideending(options, outcome, ran);
    if (ran.how == setuprun::ran) KLOG("handoff", "the setup program ended with %lu\n", ran.code);
  } else {
    KLOG("handoff", "the setup program is not started: the package was not extracted whole and intact\n");
  }
  loaderexit = end.exitcode;
  DestroyWindow(window);
}

DWORD WINAPI workerentry(void* window) {
  unzipthread(
      options, [] { WaitForSingleObject(windowshown, INFINITE); },
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
  bool createwindow() {
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
    ShowWindow(window, options.hidden ? SW_HIDE : SW_SHOWNORMAL);
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

int runloader(const loaderoptions& run) {
  options = run;
  // Until the hand-off decides: a window closed before it ends the run as one
  // whose setup program never ran.
  loaderexit = decideending(options, extraction::complete).exitcode;
  loaderwindow window;
  window.measurescreen();
  // Without a window or a worker nothing would ever end the message loop.
  if (!window.createwindow()) return cannotgoon(options);
  window.messageloop();
  return loaderexit;
}

}  // namespace kelvane
