#include "loader/setupstart.h"

#include "common/log.h"
#include "platform/text.h"

namespace kelvane {

int startsetupprogram(programstarter& starter, const std::u16string& program) {
  unsigned long error = starter.createprocess(program);
  if (error == 0) return 0;
  if (error != startelevationrequired) {
    KLOG("startsetupprogram", "cannot start %s (error %lu)\n", tonarrow(program).c_str(), error);
    return -1;
  }
  KLOG("startsetupprogram", "%s asks for elevation (error %lu): starting it through the shell\n",
       tonarrow(program).c_str(), error);
  error = starter.shellstart(program);
  if (error == 0) return 0;
  if (error == startcancelled)
    KLOG("startsetupprogram", "elevation of %s was declined (error %lu)\n", tonarrow(program).c_str(), error);
  else
    KLOG("startsetupprogram", "cannot start %s through the shell (error %lu)\n", tonarrow(program).c_str(), error);
  return -1;
}

}  // namespace kelvane
