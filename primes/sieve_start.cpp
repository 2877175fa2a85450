// Places the source at pmin: pattern positions, strike indices and the first
// segment for the segment that holds pmin, and the primes up to pmin passed
// over. sieve_start also builds the large prime list, by running the sieve
// itself from just above the sieving primes.
#include "primes/packed_sieve.hpp"
#include "primes/prime_source.hpp"
#include "primes/strike.hpp"
#include "primes/wheel_patterns.hpp"

#include <memory>

namespace veksieve {
namespace {

// The bits of the odd primes 3 to 61 in the segment from 0, which the wheel
// patterns strike as multiples of themselves; the bits of -1 and 1 cleared.
constexpr uint32_t first_word_primes = 0xC96996DC;

// Strikes p from index m to the segment's end; returns the first index past it.
uint32_t strike_to_end(uint32_t* segment, uint32_t p, uint32_t m) {
  for (; m < segment_bits; m += p) clear_bit(segment, m);
  return m;
}

// The square of the last active large prime less the margin: once the sieve
// passes it, the next block must become active.
int64_t next_block_threshold(const prime_source& source) {
  const int64_t p = source.large_primes[source.large_count / 2 - 1].prime;
  return p * p - large_activation_margin;
}

}  // namespace

void sieve_position(prime_source& source, int64_t pmin) {
  ASSERT(pmin >= 0 && source.segment && source.sieving_primes && source.packed_sieve);
  const int64_t start = pmin / segment_span * segment_span;

  prime_strike* const sieving = source.sieving_primes.get();
  for (uint32_t j = 0; j < sieving_prime_count; ++j)
    sieving[j].strike = first_strike(sieving[j].prime, start);

  source.pos_5_29_31 = wheel_position(start, period_5_29_31);
  source.pos_3_7_13_17 = wheel_position(start, period_3_7_13_17);
  source.pos_11_19_23 = wheel_position(start, period_11_19_23);
  source.chunk_base = start - chunk_span;
  source.large_threshold = no_large_threshold;

  combine_wheel_windows(source);
  uint32_t* const segment = source.segment.get();
  uint32_t* const packed = source.packed_sieve.get();
  for (uint32_t j = 0; j < class_3_begin; ++j) {
    const uint32_t p = sieving[j].prime;
    packed[j] = pack_small(p, strike_to_end(segment, p, sieving[j].strike) - segment_bits);
  }
  // From 0 the first strike of these primes (3p) may lie past the segment.
  for (uint32_t j = class_3_begin; j < sieving_prime_count; ++j) {
    const uint32_t p = sieving[j].prime;
    packed[j] = pack_big(p, strike_to_end(segment, p, sieving[j].strike) - segment_bits);
  }
  prime_strike* const large = source.large_primes.get();
  for (uint32_t j = 0; j < source.large_count / 2; ++j)
    large[j].strike = strike_to_end(segment, large[j].prime, large[j].strike) - segment_bits;

  source.chunk = segment;
  source.pending_count = 0;
  if (!source.pending) source.pending = std::make_unique<int64_t[]>(max_pending);
  if (start == 0) segment[0] = first_word_primes;

  while (peek_prime(source) <= pmin) --source.pending_count;
}

namespace {

// Activates every block whose primes can strike the segment of pmin, gives
// them their first strikes there, and places the source.
void place_with_large_primes(prime_source& source, int64_t pmin) {
  const int64_t x = source.sieving_primes[sieving_prime_count - 1].prime;
  int64_t threshold = x * x - large_activation_margin;
  source.large_count = 0;
  while (pmin > threshold && source.large_count < large_count_limit) {
    source.large_count += large_block_words;
    threshold = next_block_threshold(source);
  }
  const int64_t start = pmin / segment_span * segment_span;
  prime_strike* const large = source.large_primes.get();
  for (uint32_t j = 0; j < source.large_count / 2; ++j) large[j].strike = first_strike(large[j].prime, start);

  sieve_position(source, pmin);
  source.large_threshold = threshold;
}

}  // namespace

void sieve_start(prime_source& source, int64_t pmin) {
  ASSERT(pmin >= 0 && pmin < prime_source_reach);
  // The list is rebuilt on every start; its storage is kept.
  if (!source.large_primes) source.large_primes = std::make_unique<prime_strike[]>(large_prime_count);
  source.large_count = 0;

  // The sieving primes alone are exact up to their largest one squared,
  // which lies far above the last large prime.
  const int64_t x = source.sieving_primes[sieving_prime_count - 1].prime;
  sieve_position(source, x + 1);
  prime_strike* const large = source.large_primes.get();
  // Strike indices are given when a block becomes active; clearing them keeps
  // a restarted source identical to a fresh one.
  for (uint32_t i = 0; i < large_prime_count; ++i)
    large[i] = {static_cast<uint32_t>(next_prime(source)), 0};
  ASSERT(large[large_prime_count - 1].prime == last_large_prime);

  place_with_large_primes(source, pmin);
}

void sieve_restart(prime_source& source, int64_t pmin) {
  ASSERT(pmin >= 0 && pmin < prime_source_reach && source.large_primes);
  place_with_large_primes(source, pmin);
}

}  // namespace veksieve
