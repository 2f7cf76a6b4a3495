#include "loader/ending.h"

namespace kelvane {

ending decideending(bool attended, extraction outcome, setupstart start, unsigned long setupexit) {
  ending e;
  e.showbox = attended && outcome != extraction::complete;
  // With no setup folder of its own there is nothing of this package to
  // start: what sits at its place came from somewhere else.
  e.startsetup = attended ? outcome != extraction::noworkspace : outcome == extraction::complete;
  if (!e.startsetup) {
    if (attended) e.exitcode = exitcannotgoon;
    else e.exitcode = outcome == extraction::mismatch ? exitdigestmismatch : exitextractionfailed;
  } else if (start == setupstart::failed) {
    e.exitcode = exitcannotgoon;
  } else if (start == setupstart::ran) {
    e.exitcode = attended ? 0 : static_cast<int>(setupexit);
  }
  return e;
}

}  // namespace kelvane
