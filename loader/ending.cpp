#include "loader/ending.h"

namespace kelvane {

int cannotgoon(const loaderoptions& run) {
  return run.relaunched ? static_cast<int>(exitrelaunchnotstarted) : exitcannotgoon;
}

ending decideending(const loaderoptions& run, extraction outcome, setupresult setup) {
  bool attended = !run.hidden;
  ending e;
  e.showbox = attended && outcome != extraction::complete;
  // With no setup folder of its own there is nothing of this package to
  // start: what sits at its place came from somewhere else.
  e.startsetup = attended ? outcome != extraction::noworkspace : outcome == extraction::complete;
  if (!e.startsetup) {
    e.exitcode = attended ? cannotgoon(run)
                 : outcome == extraction::mismatch ? exitdigestmismatch
                                                   : exitextractionfailed;
    return e;
  }
  switch (setup.how) {
    case setuprun::nottried:
      e.exitcode = attended && !run.relaunched ? 0 : cannotgoon(run);
      break;
    case setuprun::failed:
      e.exitcode = cannotgoon(run);
      break;
    case setuprun::ran:
      e.exitcode = attended ? 0 : static_cast<int>(setup.code);
      break;
    case setuprun::elevated:
      if (setup.code == exitrelaunchnotstarted) e.exitcode = exitcannotgoon;
      else e.exitcode = attended ? 0 : static_cast<int>(setup.code);
      break;
  }
  return e;
}

}  // namespace kelvane
