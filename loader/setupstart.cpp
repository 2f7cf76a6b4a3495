#include "loader/setupstart.h"

#include "common/log.h"
#include "loader/elevatedrun.h"
#include "platform/environment.h"
#include "platform/text.h"

namespace kelvane {

setupstart startsetupprogram(programstarter& starter, const std::u16string& program, bool relaunched, bool hidden) {
  unsigned long error = starter.createprocess(program);
  if (error == 0) return setupstart::started;
  if (error != startelevationrequired || relaunched) {
    KLOG("startsetupprogram", "cannot start %s (error %lu)\n", tonarrow(program).c_str(), error);
    return setupstart::failed;
  }
  KLOG("startsetupprogram", "%s asks for elevation (error %lu): starting the package again elevated\n",
       tonarrow(program).c_str(), error);
  // The values the setup program would have inherited: Windows gives the
  // elevated instance a fresh environment, so they travel as arguments.
  relaunchrequest request{true, env::get("KZQAUTOI"), env::get("KZQPATHI"), hidden};
  error = starter.relaunchelevated(relaunchargs(request));
  if (error == 0) return setupstart::relaunched;
  if (error == startcancelled)
    KLOG("startsetupprogram", "elevation of the package was declined (error %lu)\n", error);
  else
    KLOG("startsetupprogram", "cannot start the package elevated (error %lu)\n", error);
  return setupstart::failed;
}

}  // namespace kelvane
