// Settling the range of primes: resumed from the status file, or typed in
// billions at the range prompt. Also sets the console-only flag.
#pragma once

#include <istream>
#include <ostream>

#include "control/sieve_job.hpp"

namespace veksieve {

// Fills job.pmin, job.pmax and job.console_only, reading job.status_file and
// the answers from `in`, writing prompts to `out` (flushed before each read).
// A confirmed range from 0 sets every bit of every bitmap; any other new range
// creates the status file. Throws fatal_error when the program must end.
void settle_range(sieve_job& job, std::istream& in, std::ostream& out);

}  // namespace veksieve
