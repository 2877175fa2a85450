// The committer: the one place where results meet the outside world. Workers
// only record what their engines find; the committer takes each chunk's
// records strictly in ascending p and strikes, verifies, prints and saves
// them, and writes the status lines and checkpoints, so that the console and
// the status file read the same whatever the number of workers.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <span>

#include "common/config.hpp"
#include "report/console.hpp"
#include "report/factor_payoff.hpp"
#include "report/factors_file.hpp"
#include "report/status_file.hpp"

namespace veksieve {

// Calendar time in whole seconds.
using calendar_clock = std::function<int64_t()>;
calendar_clock make_calendar_clock();

// The candidates as the committer sees them: sequence i stands for
// k[i]*2^n+c[i] (c empty: +1 for all), and bit n - nmin of *bitmap[i] is set
// while n is a candidate. Sequences split from one k share that k's bitmap.
struct candidate_table {
  int32_t nmin = 0;
  int32_t nmax = 0;
  std::span<const int32_t> k;
  std::span<uint32_t* const> bitmap;
  std::span<const int8_t> c = {};
};

// One record of a chunk: a solution (sequence index, n) for the prime p, or,
// with index progress_mark, the engine's progress report for p.
struct finding {
  int64_t p;
  uint32_t index;
  uint32_t n;
};
inline constexpr uint32_t progress_mark = UINT32_MAX;

struct commit_options {
  bool console_only = false;  // factors go to the console only, thinned
  bool checkpoints = true;    // false when the run has no status file to resume from
  calendar_clock clock = make_calendar_clock();
  int64_t checkpoint_interval = checkpoint_interval_seconds;
  factors_file* factors = nullptr;  // --factors=FILE: every factor line here as well
  // -r=SECONDS: the committer sets *stop (required with it) once sieving
  // stops paying; the payoff's times come from `seconds`.
  factor_payoff* payoff = nullptr;
  std::atomic<bool>* stop = nullptr;
  std::function<double()> seconds = [] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
  };
};

class committer {
 public:
  // Starts the checkpoint clock: the first "pmin=" line comes no sooner than
  // one interval after this.
  committer(const candidate_table& table, console_channel& console, status_file_writer& status,
            commit_options options = {});

  // Commits one chunk's records, in their order. Returns false when a line
  // could not be saved (in the status file or the factors file): the records
  // of that prime are still committed (and listed as unsaved), later ones are
  // not, and the run must stop.
  bool commit(std::span<const finding> records);

  // The factor and progress steps on their own, for one record each.
  void commit_factor(int64_t p, uint32_t index, uint32_t n);
  void commit_progress(int64_t p);

  // Factors verified and struck by this run.
  int64_t factors_found() const { return factors_found_; }
  // The run was stopped because sieving stopped paying.
  bool stopped_by_payoff() const { return stopped_by_payoff_; }

 private:
  bool gave_up() const { return status_.gave_up() || (options_.factors != nullptr && options_.factors->writer().gave_up()); }

  candidate_table table_;
  console_channel& console_;
  status_file_writer& status_;
  commit_options options_;
  int64_t last_checkpoint_time_;        // of the last write to the status file
  int64_t last_shown_factor_ = -10000;  // console-only thinning
  int64_t factors_found_ = 0;
  bool stopped_by_payoff_ = false;
};

}  // namespace veksieve
