// The sieve run: hands the finished job to the engine with the reporting
// callbacks and marks the status file complete when it returns.
#pragma once

#include "control/sieve_job.hpp"

namespace veksieve {

// Returns the process's exit status.
int run_sieve(sieve_job& job);

}  // namespace veksieve
