// Striking one bit of a segment, the rule that gives a sieving prime its
// first strike index for a segment, and filing a bucket prime under the
// segment of a given multiple. Shared by the positioning and the refill.
#pragma once

#include "common/macros.hpp"
#include "primes/bucket_lists.hpp"
#include "primes/sieve_layout.hpp"

#include <bit>
#include <cstdint>

namespace veksieve {

// A rotated constant mask: one instruction instead of shift and invert.
ALWAYS_INLINE void clear_bit(uint32_t* segment, uint32_t i) {
  segment[i / 32] &= std::rotl(uint32_t{0xFFFFFFFE}, static_cast<int>(i % 32));
}

// The strike index of p for the segment that starts at segment_start: the bit
// of an odd multiple of p, between 1 and p. From 0 striking starts at 3p, so
// p itself survives; any later segment lies above every prime that strikes.
// Index p (rather than 0) when bit 0, the number segment_start - 1, is a
// multiple: that number is below the segment's primes and is never handed out.
ALWAYS_INLINE uint32_t first_strike(uint32_t p, int64_t segment_start) {
  ASSERT(segment_start >= 0 && segment_start % segment_span == 0);
  uint32_t m = (3 * p + 1) / 2;  // the bit of 3p when segment_start is 0
  if (segment_start != 0) {
    m -= static_cast<uint32_t>((segment_start / 2) % p);
    if (m > p) m -= p;
  }
  return m;
}

// The first odd multiple of the odd p at or above x > 0.
ALWAYS_INLINE int64_t first_multiple(int64_t p, int64_t x) { return ((x + p - 1) / p | 1) * p; }

// Files p in the list of the segment that holds its odd multiple n, at n's bit.
ALWAYS_INLINE void file_multiple(bucket_lists& lists, uint32_t p, int64_t n) {
  const int64_t s = (n + 1) / segment_span;
  push_entry(lists, static_cast<uint64_t>(s), {p, static_cast<uint32_t>(((n + 1) - s * segment_span) / 2)});
}

}  // namespace veksieve
