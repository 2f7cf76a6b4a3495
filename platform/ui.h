// The few things the program shows outside the loader window. On Windows they
// are real windows; on POSIX each is a line on standard error.
#pragma once

#include <string>

#include "platform/userlock.h"

namespace kelvane::ui {

// A monitor: its rectangle on the desktop, in physical pixels, and its DPI.
struct monitor {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  unsigned dpi = 96;
};

// The monitor a new window opens on: the one under the mouse pointer, where
// the user just started the program (the primary monitor when the pointer's
// position cannot be had). Its whole rectangle, not the work area, so that on
// one screen the windows sit where they always did.
monitor openingmonitor();

// The DPI Windows applies to a top-level window now (a HWND as void*).
unsigned windowdpi(void* window);

struct rectangle {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
};

// A window of the given 96-DPI size scaled to the monitor's DPI and centred
// on it (halves truncated toward zero, as at 96 DPI).
rectangle centredwindow(const monitor& on, int width96, int height96);

// True when standard output is a terminal, where a line may be rewritten in place.
bool outputisterminal();

// The builder's "Waiting ..." popup: 180 x 30 at 96 DPI, left at the monitor's
// middle less 90 and top at its middle less 90, all scaled to its DPI, in the
// message font for that DPI. Shown until hidewaiting(); no message loop runs
// meanwhile, so it keeps the scale it was made for.
rectangle waitingrect(const monitor& on);
void showwaiting(const monitor& on);
void hidewaiting();

// A "Warnning" message box with an OK button and no owner; returns when the
// user has pressed OK.
void warn(const std::u16string& text);

// Brings a running installation's window to the front: the first visible
// top-level window of a program that the holder started (its setup program),
// else of the holder itself (its splash). Only a process whose creation time
// is the recorded one counts, and only children created after it, so an id
// the system has given to another process brings nothing forward. False when
// no window was found.
bool bringforward(const userlock::process& holder);

}  // namespace kelvane::ui
