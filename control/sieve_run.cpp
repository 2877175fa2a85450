// The sieve run. It owns everything the committer needs (console channel,
// status file, interruption flag) for the length of the run, and decides what
// the end of the run writes: "Done" only when every result of the range is in
// the status file, a checkpoint at the committed frontier after an
// interruption.
#include "control/sieve_run.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <ostream>
#include <span>

#include "common/platform.hpp"
#include "common/text_format.hpp"
#include "control/fatal_error.hpp"
#include "control/parallel_sieve.hpp"
#include "engine/sieve_engine.hpp"
#include "engine/stride_sizing.hpp"
#include "report/committer.hpp"
#include "report/console.hpp"
#include "report/factors_file.hpp"
#include "report/interruption.hpp"

namespace veksieve {

namespace {

// Shortens how long a status file that cannot be written is retried before
// the run gives up on it, for tests of failing disks.
constexpr const char* give_up_variable = "VEKSIEVE_GIVE_UP_SECONDS";

std::optional<int64_t> whole_seconds(const char* value, int64_t least, int64_t most) {
  char* end = nullptr;
  errno = 0;
  const long long seconds = std::strtoll(value, &end, 10);
  if (end == value || *end != '\0' || errno != 0) return std::nullopt;
  if (seconds < least || seconds > most) return std::nullopt;
  return seconds;
}

// The seconds the environment variable asks for; a value that is not a
// whole number from `least` to `most` is named on `out` and ignored.
std::optional<int64_t> seconds_from(const char* variable, int64_t least, int64_t most, std::ostream& out) {
  const char* value = std::getenv(variable);
  if (value == nullptr) return std::nullopt;
  const std::optional<int64_t> seconds = whole_seconds(value, least, most);
  if (!seconds)
    out << text_format("%s=%s ignored: it takes a number of seconds from %" PRId64 " to %" PRId64 "\n", variable,
                       value, least, most);
  return seconds;
}

int report_unsaved(console_channel& console, const status_file_writer& status, const char* what = "status file") {
  console.messagef("These lines could not be saved in the %s '%s':", what, status.path().c_str());
  for (const std::string& line : status.unsaved_lines()) {
    console.message(std::string_view(line).substr(0, line.find('\n')));
  }
  return exit_status_file_unwritable;
}

void say_resuming(console_channel& console, const std::string& name, const range_state& range, int64_t start,
                  int64_t range_end) {
  const double done = static_cast<double>(std::clamp(range.pmin, start, range_end) - start);
  const double share = range_end > start ? 100.0 * done / static_cast<double>(range_end - start) : 0.0;
  console.messagef("Resuming '%s': the range from p=%" PRId64 " to %" PRId64 ", sieved up to p=%" PRId64
                   " (%.1f%%), %" PRId64 " factor line%s saved",
                   name.c_str(), start, range.pmax, range.pmin, share, range.saved_factors,
                   range.saved_factors == 1 ? "" : "s");
}

// The end of a run stopped short of its range: the checkpoint where the
// status file keeps one, why it stopped, and the exit status.
int end_short(console_channel& console, status_file_writer& status, const range_state& range,
              const parallel_outcome& outcome, int signal, bool stopped_paying) {
  const int64_t p = outcome.frontier;
  if (!range.resumable) {
    // A run from 0 keeps no status file, so there is nothing to resume from.
    console.messagef("Interrupted before p=%" PRId64 ": a console-only run keeps no status file and does not resume",
                     p);
  } else {
    if (!status.append(checkpoint_line(p - 1))) return report_unsaved(console, status);
    console.messagef("Interrupted before p=%" PRId64 ": every smaller prime of the range is sieved", p);
  }
  if (outcome.out_of_memory) {
    console.message(out_of_memory_message);
    return exit_failure;
  }
  if (!outcome.failure.empty()) console.message(outcome.failure);
  if (stopped_paying && outcome.failure.empty()) return 0;
  if (signal == 0) return exit_failure;
  return 128 + signal;
}

}  // namespace

std::optional<int64_t> parse_checkpoint_interval(const char* value) {
  return whole_seconds(value, 0, checkpoint_interval_seconds);
}

run_settings settings_from_environment(std::ostream& out) {
  run_settings settings;
  if (auto seconds = seconds_from(checkpoint_interval_variable, 0, checkpoint_interval_seconds, out))
    settings.checkpoint_interval = *seconds;
  constexpr auto longest_window = static_cast<int64_t>(factor_payoff::default_window_seconds);
  if (auto seconds = seconds_from(payoff_window_variable, 1, longest_window, out))
    settings.payoff_window = static_cast<double>(*seconds);
  if (auto seconds = seconds_from(give_up_variable, 1, status_give_up_ms / 1000, out))
    settings.retry.give_up_after = std::chrono::seconds(*seconds);
  return settings;
}

int run_sieve(const run_options& options, sequence_table& table, const range_state& range,
              const run_settings& settings) {
  console_channel console(settings.console);
  const sequence_set sequences = table.sequences();

  // Refused before the first prime, not after hours of sieving.
  const stride_sizing sizing = plan_stride_search(sequences, table.alpha);
  if (!sizing.ok()) {
    console.messagef("The sequences of '%s' cannot be sieved: %s", table.name.c_str(), sizing.refusal.c_str());
    return exit_bad_sequence_file;
  }

  const int64_t range_end = std::min(range.pmax, engine_pmax_limit);
  // The share done counts from where the range began, on the live line as on
  // the "Resuming" line, not from where this run took it up.
  const int64_t start = range.resumed ? std::min(range.range_start, range.pmin) : range.pmin;
  console.set_log_interval(options.status_interval);
  if (settings.live.value_or(is_live_terminal(settings.console))) console.show_live(start, range_end);
  if (range.resumed) say_resuming(console, options.status_file, range, start, range_end);

  interruption_guard interruption;
  const auto started = std::chrono::steady_clock::now();
  status_file_writer status(options.status_file, console, settings.retry, &interruption.stop_flag());
  std::optional<factors_file> factors;
  if (!options.factors_file.empty())
    factors.emplace(options.factors_file, console, settings.retry, &interruption.stop_flag());
  const candidate_table candidates{table.nmin, table.nmax, sequences.k, table.bitmap, sequences.c};
  commit_options committing;
  committing.console_only = range.console_only;
  committing.checkpoints = range.resumable;
  committing.checkpoint_interval = settings.checkpoint_interval;
  committing.factors = factors ? &*factors : nullptr;
  std::optional<factor_payoff> payoff;
  if (options.payoff_limit > 0) {
    payoff.emplace(static_cast<double>(options.payoff_limit), committing.seconds(), settings.payoff_window);
    committing.payoff = &*payoff;
    committing.stop = &interruption.stop_flag();
  }
  committer commit(candidates, console, status, committing);

  const int threads = settings.threads > 0   ? settings.threads
                      : options.threads > 0 ? options.threads
                                            : usable_cpu_count();
  std::atomic<bool>& stop = interruption.stop_flag();
  const parallel_outcome outcome =
      settings.sieve ? settings.sieve(table.alpha, sequences, sizing, range.pmin, range.pmax, threads, commit, stop)
                     : sieve_in_parallel(sequences, sizing, range.pmin, range.pmax, threads, commit, stop,
                                         settings.memory);
  const int64_t p = outcome.frontier;

  // A line that could not be saved stopped the run; the file's last
  // checkpoint lies before that line's prime, so a new start finds it again.
  if (status.gave_up()) return report_unsaved(console, status);
  if (factors && factors->writer().gave_up()) return report_unsaved(console, factors->writer(), "factors file");

  console.end_live();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const int64_t found = commit.factors_found();
  const int64_t sieved = std::max<int64_t>(0, std::min(p - 1, range.pmax) - range.pmin);
  // With -r=, the time a factor now takes (negative before a whole window).
  const double seconds_per_factor = payoff ? payoff->seconds_per_factor(committing.seconds()).value_or(-1) : -1;
  const std::string per_factor = seconds_per_factor >= 0 ? "; " + seconds_per_factor_text(seconds_per_factor) : "";
  console.messagef("This run found %" PRId64 " factor%s in %s; rate %.0f p/sec on average%s", found,
                   found == 1 ? "" : "s", duration_text(seconds).c_str(),
                   static_cast<double>(sieved) / std::max(seconds, 1e-3), per_factor.c_str());
  const int signal = interruption.signal_number();
  const bool stopped_paying = signal == 0 && commit.stopped_by_payoff();
  if (stopped_paying) {
    console.messagef("Sieving no longer pays: %s over at least the last %s and ten factors, more than -r=%" PRId64,
                     seconds_per_factor_text(seconds_per_factor).c_str(),
                     duration_text(payoff->window()).c_str(), options.payoff_limit);
  }
  if (!outcome.done && (signal != 0 || stopped_paying || outcome.out_of_memory || !outcome.failure.empty()))
    return end_short(console, status, range, outcome, signal, stopped_paying);

  if (p > range.pmax) {
    console.completed();
  } else {
    console.reached(p);
  }
  if (!status.append(done_line)) return report_unsaved(console, status);
  return 0;
}

}  // namespace veksieve
