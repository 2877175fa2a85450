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

int sieve(const run_options& options, const start_up_hooks& hooks) {
  std::optional<fatal_error> unreadable;
  file_lock status_lock;
  sequence_table table;
  try {
    status_lock = lock_status_file(options);
    if (hooks.idle_process) lower_to_idle_priority();
    table = load_sequence_file(options.sequence_file);
  } catch (const fatal_error& error) {
    unreadable = error;
  }
  // Every other process is heard, whatever this one read, before the user is
  // asked for a range.
  const std::string refusal = hooks.check_peers ? hooks.check_peers(options.sequence_file) : "";
  if (unreadable) throw *unreadable;
  if (!refusal.empty()) throw fatal_error{refusal, exit_bad_sequence_file};

  table.alpha = options.alpha.value_or(table.alpha);
  const int workers = hooks.workers > 0 ? hooks.workers : options.threads > 0 ? options.threads : usable_cpu_count();
  std::cout << sequence_summary(table, text_format("%d %s%s", workers, hooks.worker, workers == 1 ? "" : "s")) << '\n';
  const range_state range = settle_range(options, table, std::cin, std::cout);
  std::cout.flush();
  run_settings settings = settings_from_environment(std::cout);
  if (hooks.adjust) hooks.adjust(settings);
  const std::shared_ptr<void> held = hooks.around_run ? hooks.around_run() : nullptr;
  return run_sieve(options, table, range, settings);
}

}  // namespace

int start_up(int argc, const char* const* argv, const start_up_hooks& hooks) {
  fatal_error error;
  try {
    const run_options options = scan_options(argc, argv, std::cout);
    if (const auto status = run_without_sieving(options, std::cout)) return *status;
    const int status = sieve(options, hooks);
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
