// The wheel patterns that pre-strike the odd primes 3 to 127 and their
// multiples: each segment starts as the AND of one window of each, which is
// far cheaper than striking the 30 smallest primes one bit at a time.
#pragma once

#include "primes/sieve_layout.hpp"

#include <cstdint>
#include <memory>

namespace veksieve {

// Bit k of a pattern stands for the odd number 2k - 1 modulo the product of
// its primes; each array is its period plus one segment long, so a window
// starting anywhere below the period is read without wrapping.
struct wheel_patterns {
  std::unique_ptr<uint32_t[]> pattern_5_29_31;
  std::unique_ptr<uint32_t[]> pattern_3_7_13_17;
  std::unique_ptr<uint32_t[]> pattern_11_19_23;
  // Pattern j strikes sieving primes 2j and 2j + 1 (37 and 41, ...); period
  // their product.
  std::unique_ptr<uint32_t[]> presieve_patterns[presieve_pattern_count];
  uint32_t presieve_periods[presieve_pattern_count] = {};
};

// Where the next segment's window starts in each pattern, in words.
struct wheel_positions {
  uint32_t pos_5_29_31 = 0;
  uint32_t pos_3_7_13_17 = 0;
  uint32_t pos_11_19_23 = 0;
  uint32_t presieve_pos[presieve_pattern_count] = {};
};

// Builds the patterns; the pre-sieve ones from the first 20 sieving primes.
wheel_patterns build_wheel_patterns(const uint32_t* sieving_primes);

// The window starts of the segment that starts at segment_start.
wheel_positions wheel_positions_at(const wheel_patterns& patterns, int64_t segment_start);

// Writes words 0 to segment_words - 1 of segment as the AND of the windows
// at the positions and moves the positions on by one segment.
void combine_wheel_windows(const wheel_patterns& patterns, wheel_positions& positions, uint32_t* segment);

}  // namespace veksieve
