// The reporter's construction and its binding to the engine's callbacks.
#include "report/reporter.hpp"

#include <ctime>

namespace veksieve {

calendar_clock make_calendar_clock() {
  return [] { return static_cast<int64_t>(std::time(nullptr)); };
}

reporter::reporter(sieve_job& job, console_channel& channel_, std::atomic<bool>& stop, reporter_options options)
    : current_job(&job),
      channel(channel_),
      stop_requested(stop),
      clock(std::move(options.clock)),
      checkpoint_interval(options.checkpoint_interval),
      status(job.status_file, channel_, options.retry, &stop),
      last_checkpoint_time(clock()) {}

engine_callbacks make_engine_callbacks(reporter& rep) {
  engine_callbacks callbacks;
  callbacks.context = &rep;
  callbacks.report_factor = report_factor;
  callbacks.allocate = sieve_alloc;
  callbacks.release = sieve_free;
  callbacks.report_progress = report_progress;
  callbacks.stop_requested = &rep.stop_requested;
  return callbacks;
}

}  // namespace veksieve
