// The factor lines of a status file, "p | k*2^n+1", read back for the
// sequence-file upkeep. Kept apart from the rest of the upkeep so that it can
// give way to the status file's own grammar module.
#pragma once

#include <cstdint>
#include <string_view>

namespace veksieve {

struct factor_line {
  int64_t p = 0;
  int64_t k = 0;
  int64_t n = 0;
};

enum class status_line_kind {
  other,      // not a factor line: "pmax=", "pmin=", "Done", "Write...", blank
  factor,     // a well-formed factor line
  malformed,  // starts with a digit, as only factor lines do, but is no factor line
};

struct status_line {
  status_line_kind kind = status_line_kind::other;
  factor_line factor;
};

// Reads one line (without its LF; a trailing CR is allowed) as written by
// the sieve: p, " | ", k, "*2^", n, "+1", each number plain decimal digits
// that fit 63 bits.
status_line read_status_line(std::string_view line);

// Whether p is a proper factor of k*2^n+1: 1 < p < k*2^n+1 and p divides it.
// Exact for every p, k and n that read_status_line accepts.
bool is_proper_factor(const factor_line& f);

}  // namespace veksieve
