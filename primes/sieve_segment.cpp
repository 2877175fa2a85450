// The refill behind next_prime: read a chunk of the segment into pending,
// sieve the next segment when this one is used up: the wheel, the sieving
// primes by loops specialised by the size of p (see packed_sieve.hpp), then
// the segment's bucket. Bucket primes join as the sieve nears their squares.
#include "primes/bucket_lists.hpp"
#include "primes/packed_sieve.hpp"
#include "primes/prime_source.hpp"
#include "primes/strike.hpp"
#include "primes/wheel_patterns.hpp"

#include <algorithm>

namespace veksieve {
namespace {

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

void sieve_segment(segment_sieve& sieve, const prime_tables& tables) {
  combine_wheel_windows(sieve, tables);
  uint32_t* const segment = sieve.segment.get();
  uint32_t* const packed = sieve.packed_sieve.get();
  strike_class_2(segment, packed, class_2_begin, class_3_begin);
  if (sieve.below_2_to_32) return;
  strike_class_3_4<class_3_high_bits>(segment, packed, class_3_begin, class_4_begin);
  strike_class_3_4<class_4_high_bits>(segment, packed, class_4_begin, sieving_prime_count);
}

// Every bucket prime has one odd multiple at most in a segment: strike it and
// file the prime under the segment of its next one.
void strike_bucket(prime_source& source) {
  const auto t = static_cast<uint64_t>(source.sieved_segment);
  uint32_t* const segment = source.sieve.segment.get();
  bucket_lists& lists = source.buckets;
  for (bucket* b = detach_list(lists, t); b != nullptr;) {
    const bucket_entry* const entries = b->entries;
    const uint32_t count = b->count;
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t p = entries[i].prime;
      const uint32_t m = entries[i].strike;
      clear_bit(segment, m);
      const uint32_t next = m + p;
      push_entry(lists, t + next / segment_bits, {p, next % segment_bits});
    }
    bucket* const done = b;
    b = b->next;
    release_bucket(lists, done);
  }
}

void add_bucket_primes(prime_source& source, int64_t start) {
  const int64_t end = start + segment_span;
  int64_t p = source.next_bucket_prime;
  // Below bucket_prime_bound^2 the bound never stops the loop; above, the
  // larger primes strike the window instead.
  while (p * p < end && p < bucket_prime_bound) {
    file_multiple(source.buckets, static_cast<uint32_t>(p), first_multiple(p, std::max(p * p, start + 1)));
    if (UNLIKELY(source.bucket_primes.pending_count == 0)) refill_bucket_primes(source);
    p = source.bucket_primes.pending_low[--source.bucket_primes.pending_count];
  }
  source.next_bucket_prime = p;
}

void refill_pending(prime_source& source) {
  segment_sieve& sieve = source.sieve;
  ASSERT(sieve.pending && sieve.segment && source.sieved_segment >= 0);
  do {
    if (sieve.chunk == sieve.segment_end) {
      const int64_t start = sieve.chunk_base + chunk_span;  // the segment about to be sieved
      const int64_t number = start / segment_span;
      if (static_cast<uint64_t>(number) >> group_shift != source.buckets.current_group)
        enter_group(source.buckets, static_cast<uint64_t>(number) >> group_shift);
      add_bucket_primes(source, start);
      sieve_segment(sieve, *source.tables);
      source.sieved_segment = number;
      strike_bucket(source);
      strike_large_primes(source);
      sieve.chunk = sieve.segment.get();
    }
    emit_chunk(sieve);
  } while (sieve.pending_count == 0);
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

void refill_bucket_primes(prime_source& source) { refill_segment_primes(source.bucket_primes, *source.tables); }

}  // namespace veksieve
