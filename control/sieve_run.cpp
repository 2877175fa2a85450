// The sieve run. It owns everything the callbacks need (console channel,
// reporter, interruption flag) for the length of the engine's call, and
// decides what the end of the run writes: "Done" only when every result of
// the range is in the status file, a checkpoint after an interruption.
#include "control/sieve_run.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "control/fatal_error.hpp"
#include "report/interruption.hpp"
#include "engine/sieve_engine.hpp"
#include "engine/stride_sizing.hpp"
#include "report/console.hpp"
#include "report/reporter.hpp"

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

int report_unsaved(console_channel& channel, const status_file_writer& status) {
  channel.print_messagef("These lines could not be saved in the status file '%s':", status.path().c_str());
  for (const std::string& line : status.unsaved_lines()) {
    channel.print_message(std::string_view(line).substr(0, line.find('\n')));
  }
  return exit_status_file_unwritable;
}

}  // namespace

std::optional<int64_t> parse_checkpoint_interval(const char* value) {
  return whole_seconds(value, 0, checkpoint_interval_seconds);
}

int run_sieve(sieve_job& job) {
  run_settings settings;
  if (const char* value = std::getenv(checkpoint_interval_variable)) {
    if (auto interval = parse_checkpoint_interval(value)) {
      settings.checkpoint_interval = *interval;
    } else {
      std::printf("%s=%s ignored: it takes a number of seconds from 0 to %" PRId64 "\n", checkpoint_interval_variable,
                  value, checkpoint_interval_seconds);
    }
  }
  if (const char* value = std::getenv(give_up_variable)) {
    constexpr int64_t most = status_give_up_ms / 1000;
    if (auto seconds = whole_seconds(value, 1, most)) {
      settings.retry.give_up_after = std::chrono::seconds(*seconds);
    } else {
      std::printf("%s=%s ignored: it takes a number of seconds from 1 to %" PRId64 "\n", give_up_variable, value, most);
    }
  }
  return run_sieve(job, settings);
}

int run_sieve(sieve_job& job, const run_settings& settings) {
  console_channel channel(settings.console);

  const auto count = static_cast<std::size_t>(job.count);
  sequence_set sequences;
  sequences.nmin = job.nmin;
  sequences.nmax = job.nmax;
  sequences.k = std::span<const int32_t>(job.k.data(), count);
  sequences.residue = std::span<const int32_t>(job.residue.data(), count);
  sequences.step = std::span<const int32_t>(job.step.data(), count);

  // Refused before the first prime, not after hours of sieving.
  const stride_sizing sizing = plan_stride_search(sequences, job.alpha);
  if (!sizing.ok()) {
    channel.print_messagef("The sequences of '%s' cannot be sieved: %s", sequence_file_name, sizing.refusal.c_str());
    return exit_bad_sequence_file;
  }

  interruption_guard interruption;
  reporter_options options;
  options.checkpoint_interval = settings.checkpoint_interval;
  options.retry = settings.retry;
  reporter rep(job, channel, interruption.stop_flag(), options);

  const int64_t p = sieve_engine(job.pmin, job.pmax, sequences, make_engine_callbacks(rep), job.alpha);

  // A line that could not be saved stopped the engine; the file's last
  // checkpoint lies before that line's prime, so a new start finds it again.
  if (rep.status.gave_up()) return report_unsaved(channel, rep.status);

  const int signal = interruption.signal_number();
  if (signal != 0 && p <= std::min(job.pmax, engine_pmax_limit)) {
    char line[48];
    std::snprintf(line, sizeof line, "pmin=%" PRId64 "\n", p - 1);
    if (!rep.status.append(line)) return report_unsaved(channel, rep.status);
    channel.print_messagef("Interrupted before p=%" PRId64 ": every smaller prime of the range is sieved", p);
    return 128 + signal;
  }

  if (p > job.pmax) {
    channel.print_message("#CDone");
  } else {
    channel.print_messagef("#s%" PRId64, p);
  }
  if (!rep.status.append("Done\n")) return report_unsaved(channel, rep.status);
  return 0;
}

}  // namespace veksieve
