// Settling the range of primes: resumed from the status file, or typed in
// billions at the range prompt.
#pragma once

#include <cstdint>
#include <istream>
#include <ostream>

#include "control/options.hpp"
#include "control/sequence_table.hpp"

namespace veksieve {

// Where the run stands in its range.
struct range_state {
  int64_t pmin = 0;  // primes above pmin are sieved ...
  int64_t pmax = 0;  // ... up to pmax
  bool console_only = false;  // factors go to the console only, thinned
  bool resumable = false;     // the status file holds the range, so checkpoints are kept
  bool resumed = false;       // the range was read back from the status file ...
  int64_t range_start = 0;    // ... which began it here
  int64_t saved_factors = 0;  // ... and holds this many factor lines
};

// The range, from options.status_file and the answers read from `in`, with
// prompts written to `out` (flushed before each read). A resumed range
// strikes the candidates its factor lines name; a confirmed range from 0 sets
// every bit of every bitmap; any other new range creates the status file.
// Throws fatal_error when the program must end.
range_state settle_range(const run_options& options, sequence_table& table, std::istream& in, std::ostream& out);

}  // namespace veksieve
