// One segment's sieving and read-out. A segment starts as the AND of the
// wheel windows; the sieving primes then strike it in loops specialised by
// the size of p. The read-out turns 128 bits at a time into pending primes.
#include "primes/segment_sieve.hpp"

#include "common/macros.hpp"
#include "primes/strike.hpp"

namespace veksieve {
namespace {

// One 32-bit word per sieving prime holds the prime and its strike index, so
// the per-segment pass reads and writes 41 KB instead of twice that. Every
// strike index stored is below p, which is what lets the pair fit.
//
// Classes 1 and 2 (p < 65536): bits 31-16 strike index, bits 15-0 p.
// Classes 3 and 4 (65536 <= p < 131072): bits 31-17 the low 15 bits of p,
// bits 16-0 strike index; the index into packed_sieve tells the class and
// so the high bits of p (0x10000 for class 3, 0x18000 for class 4).
ALWAYS_INLINE constexpr uint32_t pack_small(uint32_t prime, uint32_t strike) {
  ASSERT(prime < 0x10000 && strike < prime);
  return (strike << 16) | prime;
}
ALWAYS_INLINE constexpr uint32_t small_prime_of(uint32_t word) { return word & 0xFFFF; }
ALWAYS_INLINE constexpr uint32_t small_strike_of(uint32_t word) { return word >> 16; }

ALWAYS_INLINE constexpr uint32_t pack_big(uint32_t prime, uint32_t strike) {
  ASSERT(prime >= 0x10000 && prime < 0x20000 && strike < prime);
  return ((prime & 0x7FFF) << 17) | strike;
}
constexpr uint32_t class_3_high_bits = 0x10000;
constexpr uint32_t class_4_high_bits = 0x18000;
ALWAYS_INLINE constexpr uint32_t big_prime_of(uint32_t word, uint32_t high_bits) {
  return (word >> 17) | high_bits;
}
ALWAYS_INLINE constexpr uint32_t big_strike_of(uint32_t word) { return word & 0x1FFFF; }
// The same word with a new strike index; the prime's bits stay as they are.
ALWAYS_INLINE constexpr uint32_t with_big_strike(uint32_t word, uint32_t strike) {
  ASSERT(strike < 0x20000);
  return ((word >> 17) << 17) | strike;
}

// The bits of the odd primes 3 to 61 in the segment from 0, which the wheel
// patterns strike as multiples of themselves; the bits of -1 and 1 cleared.
constexpr uint32_t first_word_primes = 0xC96996DC;

// Strikes p from index m to the segment's end; returns the first index past it.
uint32_t strike_to_end(uint32_t* segment, uint32_t p, uint32_t m) {
  for (; m < segment_bits; m += p) clear_bit(segment, m);
  return m;
}

// 128 < p < 65536; the primes below are struck by the pre-sieve patterns.
ALWAYS_INLINE void strike_class_2(uint32_t* segment, uint32_t* packed, uint32_t begin, uint32_t end) {
  for (uint32_t j = begin; j < end; ++j) {
    const uint32_t p = small_prime_of(packed[j]);
    uint32_t m = small_strike_of(packed[j]);
    do {
      clear_bit(segment, m);
      m += p;
    } while (m < segment_bits);
    packed[j] = pack_small(p, m - segment_bits);
  }
}

// 65536 <= p: the stored index is below p, so the first strike always lies in
// the segment and there is room for at most one more.
template <uint32_t high_bits>
ALWAYS_INLINE void strike_class_3_4(uint32_t* segment, uint32_t* packed, uint32_t begin, uint32_t end) {
  for (uint32_t j = begin; j < end; ++j) {
    const uint32_t p = big_prime_of(packed[j], high_bits);
    uint32_t m = big_strike_of(packed[j]);
    clear_bit(segment, m);
    m += p;
    if (m < segment_bits) {
      clear_bit(segment, m);
      m += p;
    }
    packed[j] = with_big_strike(packed[j], m - segment_bits);
  }
}

}  // namespace

segment_sieve::segment_sieve()
    : segment(std::make_unique<uint32_t[]>(segment_words)),
      segment_end(segment.get() + segment_words), chunk(segment_end),
      pending(std::make_unique<int64_t[]>(max_pending)), pending_low(pending.get()),
      packed_sieve(std::make_unique<uint32_t[]>(sieving_prime_count)) {}

void position_segment(segment_sieve& sieve, const prime_tables& tables, int64_t start) {
  ASSERT(start >= 0 && start % segment_span == 0);
  sieve.wheel = wheel_positions_at(tables.wheel, start);
  sieve.chunk_base = start - chunk_span;

  combine_wheel_windows(tables.wheel, sieve.wheel, sieve.segment.get());
  uint32_t* const segment = sieve.segment.get();
  uint32_t* const packed = sieve.packed_sieve.get();
  const uint32_t* const sieving = tables.sieving_primes.get();
  // From 0 the first strike of a prime above 2^16 (3p) may lie past the
  // segment. A sieve below 2^32 never strikes with the primes above 2^16.
  const uint32_t end = sieve.below_2_to_32 ? class_3_begin : sieving_prime_count;
  for (uint32_t j = class_2_begin; j < end; ++j) {
    const uint32_t p = sieving[j], next = strike_to_end(segment, p, first_strike(p, start)) - segment_bits;
    packed[j] = j < class_3_begin ? pack_small(p, next) : pack_big(p, next);
  }
  // Bucket primes start at their squares, far above the first segment. The
  // patterns strike their own primes: give them back.
  if (start == 0) {
    segment[0] = first_word_primes;
    for (uint32_t j = 0; j < class_2_begin; ++j) {
      const uint32_t bit = (sieving[j] + 1) / 2;
      segment[bit / 32] |= uint32_t{1} << (bit % 32);
    }
  }
  sieve.chunk = segment;
  sieve.pending_count = 0;
}

void sieve_segment(segment_sieve& sieve, const prime_tables& tables) {
  combine_wheel_windows(tables.wheel, sieve.wheel, sieve.segment.get());
  uint32_t* const segment = sieve.segment.get();
  uint32_t* const packed = sieve.packed_sieve.get();
  strike_class_2(segment, packed, class_2_begin, class_3_begin);
  if (sieve.below_2_to_32) return;
  strike_class_3_4<class_3_high_bits>(segment, packed, class_3_begin, class_4_begin);
  strike_class_3_4<class_4_high_bits>(segment, packed, class_4_begin, sieving_prime_count);
}

void emit_chunk(segment_sieve& sieve) {
  const int64_t base = sieve.chunk_base += chunk_span;
  const uint32_t* chunk = sieve.chunk;
  int64_t* const top = sieve.pending.get() + max_pending;
  int64_t* out = top;
  // Lowest first, each stored below the one before, so that next_prime,
  // taking from the top down, hands out the lowest first. Finding the lowest
  // set bit keeps it off the loop's dependency chain (bits &= bits - 1);
  // finding the highest would put it there.
  // Two words make one 64-bit unit, the lower word the low half.
  for (int half = 0; half < 2; ++half) {
    uint64_t bits = chunk[2 * half] | uint64_t{chunk[2 * half + 1]} << 32;
    const int64_t half_base = base + 128 * half - 1;
    while (bits != 0) {
      *--out = half_base + 2 * __builtin_ctzll(bits);
      bits &= bits - 1;
    }
  }
  sieve.pending_low = out;
  sieve.pending_count = static_cast<uint32_t>(top - out);
  sieve.chunk += chunk_words;
}

void refill_segment_primes(segment_sieve& sieve, const prime_tables& tables) {
  // The segment's own sieving primes alone are exact up to 131071^2.
  ASSERT(sieve.chunk_base < int64_t{last_sieving_prime} * last_sieving_prime);
  do {
    if (sieve.chunk == sieve.segment_end) {
      sieve_segment(sieve, tables);
      sieve.chunk = sieve.segment.get();
    }
    emit_chunk(sieve);
  } while (sieve.pending_count == 0);
}

}  // namespace veksieve
