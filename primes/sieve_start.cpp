// Places a source at pmin. Within the segment it already holds it only reads
// the segment again; further up it moves the buckets forward, placing anew
// only the primes filed under the skipped segments; further down it rebuilds
// them from the first bucket prime. Then it sieves the segment of pmin and
// passes over the primes up to pmin.
#include "primes/bucket_lists.hpp"
#include "primes/packed_sieve.hpp"
#include "primes/prime_source.hpp"
#include "primes/strike.hpp"
#include "primes/wheel_patterns.hpp"

#include <algorithm>

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

// Starts the bucket primes afresh: no prime filed, the next one 131101.
void restart_buckets(prime_source& source, int64_t target) {
  clear_lists(source.buckets);
  source.buckets.current_group = static_cast<uint64_t>(target) >> group_shift;
  segment_sieve& primes = source.bucket_primes;
  position_segment(primes, *source.tables, 0);
  while (primes.pending_count == 0 || primes.pending_low[primes.pending_count - 1] <= last_sieving_prime) {
    if (primes.pending_count == 0) {
      refill_bucket_primes(source);
    } else {
      --primes.pending_count;
    }
  }
  source.next_bucket_prime = primes.pending_low[--primes.pending_count];
}

// Moves the buckets on to the segment `target`: the primes filed under the
// segments up to its group are filed again under their first multiple from
// there; those filed under later groups stay.
void skip_buckets(prime_source& source, int64_t target) {
  bucket_lists& lists = source.buckets;
  const auto group = static_cast<uint64_t>(target) >> group_shift;
  bucket* moved = detach_up_to(lists, group);
  lists.current_group = group;
  const int64_t from = target * segment_span + 1;
  while (moved != nullptr) {
    for (uint32_t i = 0; i < moved->count; ++i) {
      const uint32_t p = moved->entries[i].prime;
      file_multiple(lists, p, first_multiple(p, std::max(int64_t{p} * p, from)));
    }
    bucket* const done = moved;
    moved = moved->next;
    release_bucket(lists, done);
  }
}

}  // namespace

void position_segment(segment_sieve& sieve, const prime_tables& tables, int64_t start) {
  ASSERT(start >= 0 && start % segment_span == 0);
  sieve.pos_5_29_31 = wheel_position(start, period_5_29_31);
  sieve.pos_3_7_13_17 = wheel_position(start, period_3_7_13_17);
  sieve.pos_11_19_23 = wheel_position(start, period_11_19_23);
  for (uint32_t j = 0; j < presieve_pattern_count; ++j)
    sieve.presieve_pos[j] = wheel_position(start, tables.presieve_periods[j]);
  sieve.chunk_base = start - chunk_span;

  combine_wheel_windows(sieve, tables);
  uint32_t* const segment = sieve.segment.get();
  uint32_t* const packed = sieve.packed_sieve.get();
  const uint32_t* const sieving = tables.sieving_primes.get();
  for (uint32_t j = class_2_begin; j < class_3_begin; ++j) {
    const uint32_t p = sieving[j];
    packed[j] = pack_small(p, strike_to_end(segment, p, first_strike(p, start)) - segment_bits);
  }
  // From 0 the first strike of these primes (3p) may lie past the segment.
  for (uint32_t j = class_3_begin; j < sieving_prime_count; ++j) {
    const uint32_t p = sieving[j];
    packed[j] = pack_big(p, strike_to_end(segment, p, first_strike(p, start)) - segment_bits);
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

void sieve_start(prime_source& source, int64_t pmin) {
  ASSERT(pmin >= 0 && pmin <= prime_source_reach);
  const int64_t number = pmin / segment_span;
  const int64_t start = number * segment_span;
  segment_sieve& sieve = source.sieve;
  if (number == source.sieved_segment) {
    sieve.chunk = sieve.segment.get();
    sieve.chunk_base = start - chunk_span;
    sieve.pending_count = 0;
  } else {
    if (source.sieved_segment >= 0 && number > source.sieved_segment) {
      skip_buckets(source, number);
    } else {
      restart_buckets(source, number);
    }
    add_bucket_primes(source, start);
    position_segment(sieve, *source.tables, start);
    source.sieved_segment = number;
    strike_bucket(source);
    strike_large_primes(source);
  }
  while (peek_prime(source) <= pmin) --sieve.pending_count;
}

}  // namespace veksieve
