// The command line: "-a=" sets alpha, "-o=" names the status file; every other
// argument is ignored. Scanned from the last argument back, so the first
// occurrence of an option is applied last and wins.
#pragma once

#include <iosfwd>

#include "control/sieve_job.hpp"

namespace veksieve {

// Sets job.alpha and job.status_file from argv[1..argc-1]. Each rejected "-a="
// value prints the alpha message to `out` when it is examined.
void scan_options(int argc, const char* const* argv, sieve_job& job, std::ostream& out);

}  // namespace veksieve
