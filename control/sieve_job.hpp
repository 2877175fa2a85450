// The sieve job: everything one run needs, filled in order by start-up
// (options, sequence table, range) and read by the reporting callbacks.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/config.hpp"
#include "engine/sieve_engine.hpp"

namespace veksieve {

// Ranges are typed (at the prompt or with -f= and -u=) in billions.
constexpr int64_t billion = 1'000'000'000;

// A range of primes: those above pmin up to pmax.
struct prime_range {
  int64_t pmin = 0;
  int64_t pmax = 0;
};

struct sieve_job {
  int64_t pmin = 0;  // primes above pmin are sieved ...
  int64_t pmax = 0;  // ... up to pmax
  int32_t nmin = 0;  // exponent window [nmin, nmax] of every sequence
  int32_t nmax = 0;
  int32_t count = 0;  // number of sequences (entries of the arrays below)

  // Sequence i stands for k[i]*2^n+1 with (n - nmin) mod step[i] == residue[i];
  // its candidates are the set bits n - nmin of *bitmap[i]. Sequences split
  // from one k share that k's bitmap.
  std::vector<int32_t> k;
  std::vector<uint32_t*> bitmap;
  std::vector<int32_t> residue;
  std::vector<int32_t> step;

  // alpha as given by -a=; without it the sequence table sets the modelled one.
  double alpha = default_alpha;
  bool alpha_given = false;
  std::string status_file = default_status_file;
  std::string factors_file;   // --factors=FILE: every factor line appended there too; empty: none
  bool console_only = false;  // factors go to the console only, thinned
  bool resumable = false;     // the status file holds the range, so checkpoints are kept
  bool resumed = false;       // the range was read back from the status file ...
  int64_t range_start = 0;    // ... which began it here
  int64_t saved_factors = 0;  // ... and holds this many factor lines
  int32_t threads = 0;        // worker threads from -t=; 0: one per CPU this process may run on
  int64_t status_interval = 0;  // -s=: seconds between status lines in a log; 0: every line
  int64_t payoff_limit = 0;     // -r=: seconds per factor beyond which the run stops; 0: never

  // A new range from -f= and -u=, started without questions when the status
  // file holds none.
  std::optional<prime_range> command_line_range;

  // Owner of the bitmaps: one per k announced on line 1, bitmap_words words each.
  std::vector<std::vector<uint32_t>> bitmap_storage;
  int32_t bitmap_words = 0;
};

// The engine's view of the job's sequences (spans into the job).
inline sequence_set sequences_of(const sieve_job& job) {
  const auto count = static_cast<std::size_t>(job.count);
  sequence_set sequences;
  sequences.nmin = job.nmin;
  sequences.nmax = job.nmax;
  sequences.k = std::span<const int32_t>(job.k.data(), count);
  sequences.residue = std::span<const int32_t>(job.residue.data(), count);
  sequences.step = std::span<const int32_t>(job.step.data(), count);
  return sequences;
}

}  // namespace veksieve
