// The command line. Options of one letter, '=' and a value ("-a=", "-o=",
// "-t=", "-f=", "-u=") are scanned from the last argument back, so the first
// occurrence of an option is applied last and wins. The word options
// (--help, --version, --remove-factored) choose what the program does; any
// other argument starting with '-' is named on the console and ignored.
#pragma once

#include <iosfwd>

#include "control/sieve_job.hpp"

namespace veksieve {

enum class start_action { sieve, help, version, remove_factored };

// Sets job.alpha, job.status_file, job.factors_file, job.threads and
// job.command_line_range from
// argv[1..argc-1]. For help and version nothing else is looked at or printed.
// Otherwise each unknown option prints one line, and each rejected "-a=" or
// "-t=" value its message, to `out` when it is examined. Throws fatal_error
// when -f= or -u= cannot give a range.
start_action scan_options(int argc, const char* const* argv, sieve_job& job, std::ostream& out);

}  // namespace veksieve
