// The reporter: everything the engine's callbacks need while a sieve runs,
// handed to the engine as its callback context. One reporter per run, so that
// engines running side by side each report into their own job and file.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "common/config.hpp"
#include "control/sieve_job.hpp"
#include "engine/sieve_engine.hpp"
#include "report/console.hpp"
#include "report/status_file_writer.hpp"

namespace veksieve {

// Calendar time in whole seconds.
using calendar_clock = std::function<int64_t()>;
calendar_clock make_calendar_clock();

struct reporter_options {
  calendar_clock clock = make_calendar_clock();
  int64_t checkpoint_interval = checkpoint_interval_seconds;
  retry_policy retry;
};

struct reporter {
  // Starts the checkpoint clock: the first "pmin=" line comes no sooner than
  // one interval after this.
  reporter(sieve_job& job, console_channel& channel, std::atomic<bool>& stop_requested,
           reporter_options options = {});

  sieve_job* current_job;
  console_channel& channel;
  // Set by a signal, or here when a line cannot be saved: the engine then
  // returns at the next prime.
  std::atomic<bool>& stop_requested;
  calendar_clock clock;
  int64_t checkpoint_interval;
  status_file_writer status;
  int64_t last_checkpoint_time;        // of the last write to the status file
  int64_t last_shown_factor = -10000;  // console-only thinning
};

// The engine's callbacks; `context` is always a reporter.
void report_factor(void* context, uint32_t index, uint32_t n, int64_t p);
void report_progress(void* context, int64_t p);
void* sieve_alloc(void* context, uint32_t size);
void sieve_free(void* context, void* block);

// The four callbacks and the stop flag, bound to `rep`.
engine_callbacks make_engine_callbacks(reporter& rep);

}  // namespace veksieve
