#include "platform/ui.h"

#include <unistd.h>

#include <cstdio>

#include "platform/text.h"

namespace kelvane::ui {

monitor openingmonitor() { return {}; }

bool outputisterminal() { return isatty(STDOUT_FILENO) == 1; }

unsigned windowdpi(void*) { return 96; }

void showwaiting(const monitor&) { std::fputs("Waiting ...\n", stderr); }

void hidewaiting() {}

bool bringforward(const userlock::process&) { return false; }  // no windows here

void warn(const std::u16string& text) { std::fprintf(stderr, "Warnning: %s\n", tonarrow(text).c_str()); }

}  // namespace kelvane::ui
