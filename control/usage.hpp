// The texts of --help and --version, and the starts that do not sieve.
#pragma once

#include <iosfwd>
#include <optional>

#include "control/options.hpp"

namespace veksieve {

// Carries out a start that does not sieve (help, version, removing factored
// candidates) and returns its exit status; nothing when the job is to sieve.
std::optional<int> run_without_sieving(const run_options& options, std::ostream& out);

}  // namespace veksieve
