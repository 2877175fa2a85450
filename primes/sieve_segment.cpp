// The refill behind next_prime: read a chunk of the segment into pending,
// sieve the next segment when this one is used up, and activate the next
// block of large primes when the sieve climbs past the last one's square.
// The strike loops are specialised by the size of p (see packed_sieve.hpp).
#include "primes/packed_sieve.hpp"
#include "primes/prime_source.hpp"
#include "primes/strike.hpp"
#include "primes/wheel_patterns.hpp"

namespace veksieve {
namespace {

// p < 128: many strikes per segment, so two per turn; the second of the last
// pair may land in the slack words, and is struck again in the next segment.
ALWAYS_INLINE void strike_class_1(uint32_t* segment, uint32_t* packed, uint32_t begin, uint32_t end) {
  for (uint32_t j = begin; j < end; ++j) {
    const uint32_t p = small_prime_of(packed[j]);
    uint32_t m = small_strike_of(packed[j]);
    do {
      clear_bit(segment, m);
      m += p;
      clear_bit(segment, m);
      m += p;
    } while (m < segment_bits);
    m -= segment_bits;
    if (m >= p) m -= p;
    packed[j] = pack_small(p, m);
  }
}

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

// Most large primes have no multiple in a segment; their index just falls.
ALWAYS_INLINE void strike_large(uint32_t* segment, prime_strike* large, uint32_t count) {
  for (uint32_t j = 0; j < count; ++j) {
    uint32_t m = large[j].strike;
    if (m < segment_bits) {
      const uint32_t p = large[j].prime;
      clear_bit(segment, m);
      m += p;
      if (m < segment_bits) {
        clear_bit(segment, m);
        m += p;
      }
    }
    large[j].strike = m - segment_bits;
  }
}

}  // namespace

void emit_chunk(prime_source& source) {
  const int64_t base = source.chunk_base += chunk_span;
  const uint32_t* chunk = source.chunk;
  int64_t* const pending = source.pending.get();
  uint32_t count = 0;
  // Highest first, so that next_prime, taking from the end, hands out the
  // lowest first. Two words make one 64-bit unit, the lower word the low half.
  for (int half = 1; half >= 0; --half) {
    uint64_t bits = chunk[2 * half] | uint64_t{chunk[2 * half + 1]} << 32;
    const int64_t half_base = base + 128 * half - 1;
    while (bits != 0) {
      const int b = 63 - __builtin_clzll(bits);
      pending[count++] = half_base + 2 * b;
      bits &= ~(uint64_t{1} << b);
    }
  }
  source.pending_count = count;
  source.chunk += chunk_words;
}

void sieve_segment(prime_source& source) {
  combine_wheel_windows(source);
  uint32_t* const segment = source.segment.get();
  uint32_t* const packed = source.packed_sieve.get();
  strike_class_1(segment, packed, 0, class_2_begin);
  strike_class_2(segment, packed, class_2_begin, class_3_begin);
  strike_class_3_4<class_3_high_bits>(segment, packed, class_3_begin, class_4_begin);
  strike_class_3_4<class_4_high_bits>(segment, packed, class_4_begin, sieving_prime_count);
  strike_large(segment, source.large_primes.get(), source.large_count / 2);
}

void extend_large_primes(prime_source& source) {
  ASSERT(source.large_count < large_count_limit);
  const uint32_t first = source.large_count / 2;
  source.large_count += large_block_words;
  const uint32_t end = source.large_count / 2;
  prime_strike* const large = source.large_primes.get();
  const int64_t last = large[end - 1].prime;
  source.large_threshold = last * last - large_activation_margin;
  const int64_t start = source.chunk_base + chunk_span;  // the segment about to be sieved
  for (uint32_t j = first; j < end; ++j) large[j].strike = first_strike(large[j].prime, start);
}

void refill_pending(prime_source& source) {
  ASSERT(source.pending && source.segment);
  do {
    if (source.chunk == source.segment_end) {
      if (source.chunk_base > source.large_threshold && source.large_count < large_count_limit)
        extend_large_primes(source);
      sieve_segment(source);
      source.chunk = source.segment.get();
    }
    emit_chunk(source);
  } while (source.pending_count == 0);
}

}  // namespace veksieve
