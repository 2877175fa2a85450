// The start-up runs its steps in a fixed order, reading from std::cin and
// printing on std::cout; the run itself prints through its console.
#include "control/start_up.hpp"

#include <iostream>
#include <new>
#include <optional>

#include "common/config.hpp"
#include "common/platform.hpp"
#include "common/text_format.hpp"
#include "control/fatal_error.hpp"
#include "control/options.hpp"
#include "control/sequence_table.hpp"
#include "control/sieve_range.hpp"
#include "control/status_file_guard.hpp"
#include "control/usage.hpp"

namespace veksieve {

namespace {

int sieve(sieve_job& job, const start_up_hooks& hooks) {
  std::optional<fatal_error> unreadable;
  file_lock status_lock;
  try {
    status_lock = lock_status_file(job);
    if (hooks.idle_process) lower_to_idle_priority();
    load_sequence_file(sequence_file_name, job);
  } catch (const fatal_error& error) {
    unreadable = error;
  }
  // Every other process is heard, whatever this one read, before the user is
  // asked for a range.
  const std::string refusal = hooks.check_peers ? hooks.check_peers() : "";
  if (unreadable) throw *unreadable;
  if (!refusal.empty()) throw fatal_error{refusal, exit_bad_sequence_file};

  const int workers = hooks.workers > 0 ? hooks.workers : job.threads > 0 ? job.threads : usable_cpu_count();
  std::cout << sequence_summary(job, text_format("%d %s%s", workers, hooks.worker, workers == 1 ? "" : "s")) << '\n';
  settle_range(job, std::cin, std::cout);
  std::cout.flush();
  run_settings settings = settings_from_environment(std::cout);
  return hooks.run ? hooks.run(job, std::move(settings)) : run_sieve(job, settings);
}

}  // namespace

int start_up(int argc, const char* const* argv, const start_up_hooks& hooks) {
  fatal_error error;
  try {
    sieve_job job;
    const start_action action = scan_options(argc, argv, job, std::cout);
    if (const auto status = run_without_sieving(action, job, std::cout)) return *status;
    const int status = sieve(job, hooks);
    if (hooks.leave) hooks.leave();
    return status;
  } catch (const fatal_error& thrown) {
    error = thrown;
  } catch (const std::bad_alloc&) {
    // The engine asks for its memory before the first prime, so nothing
    // found is lost; the status file still resumes where it was.
    error = {out_of_memory_message, exit_failure};
  }
  if (hooks.leave) hooks.leave();
  std::cout << printed(error) << std::flush;
  return error.exit_status;
}

}  // namespace veksieve
