// The few things the program shows outside the loader window. On Windows they
// are real windows; on POSIX each is a line on standard error.
#pragma once

#include <string>

#include "platform/userlock.h"

namespace kelvane::ui {

struct screensize {
  int width = 0;
  int height = 0;
};

screensize primaryscreen();

// True when standard output is a terminal, where a line may be rewritten in place.
bool outputisterminal();

// The builder's "Waiting ..." popup: 180 x 30, left at width / 2 - 90 and top
// at height / 2 - 90. Shown until hidewaiting(); no message loop runs meanwhile.
void showwaiting(screensize screen);
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
