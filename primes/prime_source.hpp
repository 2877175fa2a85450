// The candidate prime source: a segmented sieve of Eratosthenes over the odd
// numbers that hands out every prime above pmin in ascending order, up to
// 2^62 and a little beyond. The fixed tables are built once and shared; each
// source (one per worker) holds only its own position, segment and buckets.
// The hand-out is inline, the refill is not.
#pragma once

#include "common/config.hpp"
#include "common/macros.hpp"
#include "primes/bucket_lists.hpp"
#include "primes/large_prime_window.hpp"

#include <array>
#include <cstdint>
#include <memory>

namespace veksieve {

// A segment starts at S, a multiple of 2^18; its bit i stands for the odd
// number S + 2i - 1. It is read out in chunks of 4 words (256 integers).
inline constexpr uint32_t segment_bits = 131072;
inline constexpr uint32_t segment_words = segment_bits / 32;
inline constexpr int64_t segment_span = 2 * int64_t{segment_bits};
inline constexpr uint32_t chunk_words = 4;
inline constexpr int64_t chunk_span = 64 * int64_t{chunk_words};
inline constexpr uint32_t max_pending = 32 * chunk_words;

// small_primes: the first 24000 odd primes (3 to 274579) and an end mark.
inline constexpr uint32_t small_prime_count = 24000;
inline constexpr uint32_t small_primes_end_mark = 0x7fffffff;

// The segment's own sieving primes, 37 to 131071 = 2^17 - 1, are
// small_primes[10 ...], in four classes by size. Class 1 (37 to 127) is
// struck by the pre-sieve patterns with 3 to 31; the others each by its own
// loop (see sieve_segment). Every larger prime has at most one odd multiple
// in a segment and sits in the buckets.
inline constexpr uint32_t first_sieving_prime_index = 10;
inline constexpr uint32_t sieving_prime_count = 12240;
inline constexpr uint32_t last_sieving_prime = 131071;
inline constexpr uint32_t class_2_begin = 20;    // first p above 128
inline constexpr uint32_t class_3_begin = 6531;  // first p above 65536
inline constexpr uint32_t class_4_begin = 9428;  // first p above 98304
static_assert(last_sieving_prime < segment_bits, "a bucket prime strikes a segment at most once");

// The wheel patterns' periods in words: the product of their primes.
inline constexpr uint32_t period_5_29_31 = 5 * 29 * 31;
inline constexpr uint32_t period_3_7_13_17 = 3 * 7 * 13 * 17;
inline constexpr uint32_t period_11_19_23 = 11 * 19 * 23;
static_assert(period_5_29_31 > segment_words && period_3_7_13_17 > segment_words &&
                  period_11_19_23 > segment_words,
              "one subtraction must bring a pattern position back below its period");
// The pre-sieve patterns of class 1, two primes each: 37 * 41, ..., 113 * 127.
inline constexpr uint32_t presieve_pattern_count = class_2_begin / 2;
static_assert(class_2_begin % 4 == 0, "the patterns are combined two at a time");

// sieve_start accepts pmin up to 2^62. The bucket primes come from a second
// sieve that is exact below 131071^2 (about 1.7e10); they stay below 2^32 and
// their next hit within bucket_ring segments while the sieve is below 2^63.
inline constexpr int64_t prime_source_reach = int64_t{1} << 62;
static_assert(int64_t{bucket_ring} * segment_bits > int64_t{3037000500} + segment_bits,
              "the ring must reach the next hit of every bucket prime below sqrt(2^63)");

// The fixed tables, the same for every source: built once, then only read.
struct prime_tables {
  std::unique_ptr<uint32_t[]> small_primes;
  // Bit k of a pattern stands for the odd number 2k - 1 modulo the product of
  // its primes; each array is its period plus one segment long, so a window
  // starting anywhere below the period is read without wrapping.
  std::unique_ptr<uint32_t[]> pattern_5_29_31;
  std::unique_ptr<uint32_t[]> pattern_3_7_13_17;
  std::unique_ptr<uint32_t[]> pattern_11_19_23;
  // Pattern j strikes sieving primes 2j and 2j + 1 (37 and 41, ...); period
  // their product, length period plus one segment, as above.
  std::unique_ptr<uint32_t[]> presieve_patterns[presieve_pattern_count];
  uint32_t presieve_periods[presieve_pattern_count] = {};
  std::unique_ptr<uint32_t[]> sieving_primes;  // 37 to 131071
};

// Builds the tables. A failed allocation throws std::bad_alloc.
std::shared_ptr<const prime_tables> build_prime_tables();

// One segment of the odd numbers with the wheel positions, the strike indices
// of the sieving primes and the read-out of the primes it holds.
struct segment_sieve {
  segment_sieve();

  uint32_t pos_5_29_31 = 0;  // window start for the next segment, in words
  uint32_t pos_3_7_13_17 = 0;
  uint32_t pos_11_19_23 = 0;
  uint32_t presieve_pos[presieve_pattern_count] = {};

  std::unique_ptr<uint32_t[]> segment;  // segment_words
  uint32_t* segment_end = nullptr;      // word segment_words of segment
  uint32_t* chunk = nullptr;            // next chunk to read out
  int64_t chunk_base = 0;               // base of the chunk read out last

  // The last chunk's primes, highest first, fill the top of pending from
  // pending_low on; the next prime is pending_low[pending_count - 1].
  std::unique_ptr<int64_t[]> pending;
  int64_t* pending_low = nullptr;
  uint32_t pending_count = 0;

  // One word per sieving prime, the prime and its strike index (packed_sieve.hpp).
  std::unique_ptr<uint32_t[]> packed_sieve;
  // Set for a sieve that never passes 2^32 (the window stream): the primes up
  // to 2^16 suffice there, and the 5700 above would visit every segment.
  bool below_2_to_32 = false;
};

// One worker's source. The sieving primes above 131071 are produced on demand
// by a second segment sieve as the squares come near, and each below
// bucket_prime_bound waits in the bucket of the segment it strikes next; the
// larger ones strike a window of segments at a time (large_prime_window.hpp).
struct prime_source {
  explicit prime_source(std::shared_ptr<const prime_tables> shared_tables);

  std::shared_ptr<const prime_tables> tables;
  segment_sieve sieve;           // hands out the primes
  segment_sieve bucket_primes;   // hands out the bucket primes, 131101 upwards
  bucket_lists buckets;
  segment_sieve window_primes;   // streams the primes above bucket_prime_bound for a window
  large_prime_window window;
  int64_t sieved_segment = -1;   // number of the segment in sieve.segment; -1 before the first start
  int64_t next_bucket_prime = 0; // the next bucket prime not yet in the buckets
};

// Places the source so that next_prime hands out the smallest prime above
// pmin. 0 <= pmin <= prime_source_reach; callable again at any time. Moving
// forward keeps the buckets (only the primes that would strike the skipped
// stretch are placed anew); moving back rebuilds them.
void sieve_start(prime_source& source, int64_t pmin);

// The steps behind the hand-out and the positioning.
void emit_chunk(segment_sieve& sieve);
void sieve_segment(segment_sieve& sieve, const prime_tables& tables);
void position_segment(segment_sieve& sieve, const prime_tables& tables, int64_t start);
void strike_bucket(prime_source& source);
void add_bucket_primes(prime_source& source, int64_t start);
NOINLINE void refill_pending(prime_source& source);
NOINLINE void refill_bucket_primes(prime_source& source);
// Reads out the next chunk of a segment sieve that holds primes, sieving its
// next segment first when the segment is used up.
void refill_segment_primes(segment_sieve& sieve, const prime_tables& tables);

// The hot path: a test, a decrement and a load.
ALWAYS_INLINE int64_t next_prime(prime_source& source) {
  if (UNLIKELY(source.sieve.pending_count == 0)) refill_pending(source);
  return source.sieve.pending_low[--source.sieve.pending_count];
}

ALWAYS_INLINE int64_t peek_prime(prime_source& source) {
  if (UNLIKELY(source.sieve.pending_count == 0)) refill_pending(source);
  return source.sieve.pending_low[source.sieve.pending_count - 1];
}

}  // namespace veksieve
