// One segment of the odd numbers at a time: the wheel positions, the strike
// indices of the sieving primes and the read-out of the primes it holds.
// Alone it is exact below 131071^2; the source adds the larger primes.
#pragma once

#include "common/macros.hpp"
#include "primes/prime_tables.hpp"
#include "primes/sieve_layout.hpp"

#include <cstdint>
#include <memory>

namespace veksieve {

struct segment_sieve {
  segment_sieve();

  wheel_positions wheel;  // window starts for the next segment

  std::unique_ptr<uint32_t[]> segment;  // segment_words
  uint32_t* segment_end = nullptr;      // word segment_words of segment
  uint32_t* chunk = nullptr;            // next chunk to read out
  int64_t chunk_base = 0;               // base of the chunk read out last

  // The last chunk's primes, highest first, fill the top of pending from
  // pending_low on; the next prime is pending_low[pending_count - 1].
  std::unique_ptr<int64_t[]> pending;
  int64_t* pending_low = nullptr;
  uint32_t pending_count = 0;

  // One word per sieving prime, the prime and its strike index (segment_sieve.cpp).
  std::unique_ptr<uint32_t[]> packed_sieve;
  // Set for a sieve that never passes 2^32 (the window stream): the primes up
  // to 2^16 suffice there, and the 5700 above would visit every segment.
  bool below_2_to_32 = false;
};

// Sieves the segment that starts at start, a multiple of segment_span, and
// makes its first chunk the next to read out.
void position_segment(segment_sieve& sieve, const prime_tables& tables, int64_t start);
// Sieves the next segment with the wheel and the sieving primes.
void sieve_segment(segment_sieve& sieve, const prime_tables& tables);
// Reads the next chunk's primes into pending.
void emit_chunk(segment_sieve& sieve);
// Reads out the next chunk that holds primes, sieving the next segment first
// when the segment is used up.
NOINLINE void refill_segment_primes(segment_sieve& sieve, const prime_tables& tables);

// The next prime of a sieve that needs no primes above its own sieving ones.
ALWAYS_INLINE int64_t next_segment_prime(segment_sieve& sieve, const prime_tables& tables) {
  if (UNLIKELY(sieve.pending_count == 0)) refill_segment_primes(sieve, tables);
  return sieve.pending_low[--sieve.pending_count];
}

}  // namespace veksieve
