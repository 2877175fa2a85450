// The sieving primes above bucket_prime_bound, which strike only segments
// from 2^50 on. They are not kept: once per window of window_segments
// segments a small sieve streams them out, and each strikes the window's
// bitmap from its first multiple there, found by one remainder. Every
// segment of the window is then ANDed with its slice of the bitmap.
#pragma once

#include "primes/segment_sieve.hpp"

#include <cstdint>
#include <memory>

namespace veksieve {

// Strikes are listed this many at a time (16 KB, in the first-level cache).
inline constexpr uint32_t window_batch = 4096;

struct large_prime_window {
  // Bit i of segment j of the window stands for the odd number
  // (first_segment + j) * 2^18 + 2i - 1, as in the segment itself; a bit is
  // clear when a prime above bucket_prime_bound divides that number.
  std::unique_ptr<uint32_t[]> bits;     // allocated at the first window
  std::unique_ptr<uint32_t[]> strikes;  // window_batch bit indices waiting to be struck
  int64_t first_segment = -1;        // -1 while no window is built
  segment_sieve primes;              // streams the primes above bucket_prime_bound
};

// Clears in segment, freshly sieved and the number-th, the multiples of the
// primes above bucket_prime_bound, building the window from this segment on
// first when the segment lies outside the one held. Nothing to do below 2^50.
void strike_large_primes(large_prime_window& window, const prime_tables& tables, int64_t number, uint32_t* segment);

}  // namespace veksieve
