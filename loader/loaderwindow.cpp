#include "loader/loaderwindow.h"

#include "loader/elevatedrun.h"
#include "platform/environment.h"

namespace kelvane {

bool unattended(int argc) {
  if (argc > 2) return true;
  auto autoinstall = env::get("KZQAUTOI");
  return autoinstall && !autoinstall->empty() && (*autoinstall)[0] == '1';
}

int loaderexit(const handoffoutcome& outcome, bool relaunched) {
  switch (outcome.how) {
    case handoffoutcome::ran:
      return relaunched ? static_cast<int>(relaunchedexit(true, outcome.code)) : 0;
    case handoffoutcome::elevated:
      return firstloaderexit(true, outcome.code);
    case handoffoutcome::notstarted:
      break;
  }
  return relaunched ? static_cast<int>(relaunchedexit(false, 0)) : -1;
}

}  // namespace kelvane
