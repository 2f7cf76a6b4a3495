#include "platform/ui.h"

#include <windows.h>

namespace kelvane::ui {

namespace {
HWND waitingpopup = nullptr;  // lives from showwaiting to hidewaiting
}

screensize primaryscreen() { return {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)}; }

void showwaiting(screensize screen) {
  waitingpopup = CreateWindowExW(0, L"static", nullptr, WS_POPUP | WS_VISIBLE | WS_DLGFRAME, screen.width / 2 - 90,
                                 screen.height / 2 - 90, 180, 30, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  SetWindowTextW(waitingpopup, L"Waiting ...");
}

void hidewaiting() {
  if (waitingpopup) DestroyWindow(waitingpopup);
  waitingpopup = nullptr;
}

void warn(const std::u16string& text) {
  MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(text.c_str()), L"Warnning", MB_OK);
}

}  // namespace kelvane::ui
