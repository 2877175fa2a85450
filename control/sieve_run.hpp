// The sieve run: hands what start-up made to the workers and the committer, and
// when they return says whether the range is done and marks the status file
// complete, or records where an interrupted run resumes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <iosfwd>
#include <optional>

#include "common/config.hpp"
#include "control/options.hpp"
#include "control/parallel_sieve.hpp"
#include "control/sequence_table.hpp"
#include "control/sieve_range.hpp"
#include "report/factor_payoff.hpp"
#include "report/status_file.hpp"

namespace veksieve {

// The environment variable that shortens the checkpoint interval (seconds,
// 0 up to the default), for tests that must see checkpoints quickly.
constexpr const char* checkpoint_interval_variable = "VEKSIEVE_CHECKPOINT_SECONDS";

// The interval `value` asks for, or nothing when it is not a whole number
// from 0 up to the default interval.
std::optional<int64_t> parse_checkpoint_interval(const char* value);

struct run_settings {
  FILE* console = stdout;
  // Whether the status line is rewritten in place; empty: when the console
  // is a terminal. A program whose console is not what the user sees (a rank
  // of an MPI job) says it here.
  std::optional<bool> live;
  int threads = 0;  // worker threads; 0 takes the options' choice
  int64_t checkpoint_interval = checkpoint_interval_seconds;
  retry_policy retry;  // for status-file lines that cannot be written
  double payoff_window = factor_payoff::default_window_seconds;  // of -r=
  engine_memory memory;
  // The way the range is sieved and committed; empty: sieve_in_parallel's
  // worker threads. Another program (processes on several machines) puts
  // its own here and keeps everything else of the run.
  std::function<parallel_outcome(double alpha, const sequence_set& sequences, const stride_sizing& sizing,
                                 int64_t pmin, int64_t pmax, int threads, committer& commit, std::atomic<bool>& stop)>
      sieve;
};

// Returns the process's exit status: 0 when the range (or the engine's part
// of it) is sieved and saved; 128 + the signal number after an interruption;
// exit_status_file_unwritable when results could not be saved; exit_failure
// when the sieve step ended the run early for a reason of its own;
// exit_bad_sequence_file when the sequences cannot be sieved at all.
int run_sieve(const run_options& options, sequence_table& table, const range_state& range,
              const run_settings& settings);

// The settings on stdout, with the checkpoint interval (and the give-up time
// of a failing status file, and the payoff window) shortened by their
// environment variables, when set; a value out of bounds is named on `out`
// and ignored.
run_settings settings_from_environment(std::ostream& out);

}  // namespace veksieve
