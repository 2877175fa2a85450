// The progress callback: a status line for the prime reached and, at most once
// per checkpoint interval, a "pmin=" line from which an interrupted run
// resumes. The checkpoint records the prime minus one, because a resumed run
// starts with the first prime above the recorded value and this prime is
// about to be sieved, not yet sieved.
#include "report/reporter.hpp"

#include <cinttypes>
#include <cstdio>

namespace veksieve {

void report_progress(void* context, int64_t p) {
  auto& rep = *static_cast<reporter*>(context);

  if (p < 1000000) {
    rep.channel.print_messagef("#SSieved up to %" PRId64, p);
  } else {
    double scaled;
    const char* unit;
    if (p > 1000000000000) {
      scaled = static_cast<double>(p) * 1e-12;
      unit = "trillion";
    } else if (p > 1000000000) {
      scaled = static_cast<double>(p) * 1e-9;
      unit = "billion";
    } else {
      scaled = static_cast<double>(p) * 1e-6;
      unit = "million";
    }
    // Taking off 0.05 shows the value cut to one decimal, not rounded.
    rep.channel.print_messagef("#SSieved up to %" PRId64 " (%.1f %s)", p, scaled - 0.05, unit);
  }

  if (rep.clock() - rep.last_checkpoint_time > rep.checkpoint_interval) {
    char line[48];
    std::snprintf(line, sizeof line, "pmin=%" PRId64 "\n", p - 1);
    if (rep.status.append(line)) {
      rep.last_checkpoint_time = rep.clock();
    } else {
      rep.stop_requested.store(true);
    }
  }
}

}  // namespace veksieve
