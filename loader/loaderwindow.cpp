#include "loader/loaderwindow.h"

#include "platform/environment.h"

namespace kelvane {

bool unattended(int argc) {
  if (argc > 2) return true;
  auto autoinstall = env::get("KZQAUTOI");
  return autoinstall && !autoinstall->empty() && (*autoinstall)[0] == '1';
}

}  // namespace kelvane
