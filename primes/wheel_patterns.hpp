// The wheel patterns that pre-strike the odd primes 3 to 127 and their
// multiples: each segment starts as the AND of one window of each, which is
// far cheaper than striking the 30 smallest primes one bit at a time.
#pragma once

#include "primes/prime_source.hpp"

#include <cstdint>

namespace veksieve {

// Allocates and builds the patterns of the tables; needs the sieving primes.
void build_wheel_patterns(prime_tables& tables);

// Window start, in words, of the segment that starts at segment_start for a
// pattern of the given period.
uint32_t wheel_position(int64_t segment_start, uint32_t period);

// Writes words 0 to segment_words - 1 of sieve.segment as the AND of the
// windows at the current positions and moves the positions on by one
// segment.
void combine_wheel_windows(segment_sieve& sieve, const prime_tables& tables);

}  // namespace veksieve
