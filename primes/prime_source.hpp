// The candidate prime source: a segmented sieve of Eratosthenes over the odd
// numbers that hands out every prime above pmin in ascending order. The whole
// state lives in one prime_source record owned by whoever sieves, so several
// sources can run side by side; the hand-out is inline, the refill is not.
#pragma once

#include "common/config.hpp"
#include "common/macros.hpp"

#include <array>
#include <cstdint>
#include <memory>

namespace veksieve {

// A segment starts at S, a multiple of 2^18; its bit i stands for the odd
// number S + 2i - 1. It is read out in chunks of 4 words (256 integers).
inline constexpr uint32_t segment_bits = 131072;
inline constexpr uint32_t segment_words = segment_bits / 32;
inline constexpr int64_t segment_span = 2 * int64_t{segment_bits};
// Class-1 primes (p < 128) are struck two at a time and may overshoot the
// segment by up to 2p - 1 bits; these words absorb that and are never read.
inline constexpr uint32_t segment_slack_words = 4;
inline constexpr uint32_t chunk_words = 4;
inline constexpr int64_t chunk_span = 64 * int64_t{chunk_words};
inline constexpr uint32_t max_pending = 32 * chunk_words;

// small_primes: the first 24000 odd primes (3 to 274579) and an end mark.
inline constexpr uint32_t small_prime_count = 24000;
inline constexpr uint32_t small_primes_end_mark = 0x7fffffff;

// The sieving primes 37 to 109873 are small_primes[10 ...], in four classes
// by size, each struck by its own loop (see sieve_segment).
inline constexpr uint32_t first_sieving_prime_index = 10;
inline constexpr uint32_t sieving_prime_count = 10432;
inline constexpr uint32_t class_2_begin = 20;    // first p above 128
inline constexpr uint32_t class_3_begin = 6531;  // first p above 65536
inline constexpr uint32_t class_4_begin = 9428;  // first p above 98304

// The wheel patterns' periods in words: the product of their primes.
inline constexpr uint32_t period_5_29_31 = 5 * 29 * 31;
inline constexpr uint32_t period_3_7_13_17 = 3 * 7 * 13 * 17;
inline constexpr uint32_t period_11_19_23 = 11 * 19 * 23;
static_assert(period_5_29_31 > segment_words && period_3_7_13_17 > segment_words &&
                  period_11_19_23 > segment_words,
              "one subtraction must bring a pattern position back below its period");

// large_count counts 32-bit words, two per large prime.
inline constexpr uint32_t large_count_limit = 2 * large_prime_count;
inline constexpr uint32_t large_block_words = 2 * large_block_primes;
// The last of the large primes. With all of them active the source is exact
// below its square (about 4.6e15), far above the engine's 2^48.
inline constexpr int64_t last_large_prime = 68056199;
inline constexpr int64_t prime_source_reach = last_large_prime * last_large_prime;
// Keeps the blocks from activating while the list itself is being built.
inline constexpr int64_t no_large_threshold = 0x3FFFFFFFFFFFFFFF;

// A sieving or large prime with its strike index: the bit, in the segment
// about to be sieved, of the next odd multiple of p to strike.
struct prime_strike {
  uint32_t prime;
  uint32_t strike;
};

struct prime_source {
  std::array<uint32_t, 32> clear_mask{};  // entry i: all bits but bit i
  std::unique_ptr<uint32_t[]> small_primes;

  // Bit k of a pattern stands for the odd number 2k - 1 modulo the product of
  // its primes; each array is its period plus one segment long, so a window
  // starting anywhere below the period is read without wrapping.
  std::unique_ptr<uint32_t[]> pattern_5_29_31;
  std::unique_ptr<uint32_t[]> pattern_3_7_13_17;
  std::unique_ptr<uint32_t[]> pattern_11_19_23;
  uint32_t pos_5_29_31 = 0;  // window start for the next segment, in words
  uint32_t pos_3_7_13_17 = 0;
  uint32_t pos_11_19_23 = 0;

  std::unique_ptr<uint32_t[]> segment;  // segment_words + segment_slack_words
  uint32_t* segment_end = nullptr;      // word segment_words of segment
  uint32_t* chunk = nullptr;            // next chunk to read out
  int64_t chunk_base = 0;               // base of the chunk read out last

  std::unique_ptr<int64_t[]> pending;  // the last chunk's primes, highest first
  uint32_t pending_count = 0;          // the next prime is pending[pending_count - 1]

  // Strike indices here serve only the positioning; the live ones are in
  // packed_sieve, one word per prime (layout in prime_source.cpp).
  std::unique_ptr<prime_strike[]> sieving_primes;
  std::unique_ptr<uint32_t[]> packed_sieve;

  std::unique_ptr<prime_strike[]> large_primes;  // 109883 to 68056199
  uint32_t large_count = 0;                      // active words (two per prime)
  int64_t large_threshold = 0;  // activate the next block once chunk_base exceeds it
};

// Set-up, in this order, once per source (the tables are kept afterwards).
// A failed allocation throws std::bad_alloc here or in the first sieve_start;
// the hand-out itself never allocates.
void build_clear_mask(prime_source& source);
void build_small_primes(prime_source& source);
void init_sieve_tables(prime_source& source);  // a second call changes nothing

// Builds the large prime list and places the source so that next_prime hands
// out the smallest prime above pmin. 0 <= pmin < prime_source_reach.
void sieve_start(prime_source& source, int64_t pmin);
// Places a source that has been started before at pmin, keeping its large
// prime list: a worker that moves on to its next chunk pays no rebuild.
void sieve_restart(prime_source& source, int64_t pmin);
// sieve_start's positioning step; leaves large_primes and large_count alone.
void sieve_position(prime_source& source, int64_t pmin);

// The steps behind the hand-out.
void emit_chunk(prime_source& source);
void sieve_segment(prime_source& source);
void extend_large_primes(prime_source& source);
NOINLINE void refill_pending(prime_source& source);

// The hot path: a test, a decrement and a load.
ALWAYS_INLINE int64_t next_prime(prime_source& source) {
  if (UNLIKELY(source.pending_count == 0)) refill_pending(source);
  return source.pending[--source.pending_count];
}

ALWAYS_INLINE int64_t peek_prime(prime_source& source) {
  if (UNLIKELY(source.pending_count == 0)) refill_pending(source);
  return source.pending[source.pending_count - 1];
}

}  // namespace veksieve
