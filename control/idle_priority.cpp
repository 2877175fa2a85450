// Linux has an idle scheduling class (SCHED_IDLE); where it is refused, the
// lowest nice value is the nearest equivalent.
#include "control/idle_priority.hpp"

#if defined(__linux__)
#include <sched.h>
#include <sys/resource.h>
#endif

namespace veksieve {

void lower_to_idle_priority() {
#if defined(__linux__)
  sched_param param{};
  param.sched_priority = 0;
  if (sched_setscheduler(0, SCHED_IDLE, &param) != 0) {
    (void)setpriority(PRIO_PROCESS, 0, 19);
  }
#endif
}

}  // namespace veksieve
