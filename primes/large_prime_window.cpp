// Builds a window of the large sieving primes and strikes its slices into the
// segments. A window costs one pass over the primes from bucket_prime_bound
// to the square root of its end, so it is wide; a worker moving on within it
// only reads its slices.
#include "primes/large_prime_window.hpp"

#include "common/config.hpp"
#include "primes/strike.hpp"

#include <algorithm>

namespace veksieve {
namespace {

constexpr uint64_t window_words = uint64_t{window_segments} * segment_words;
constexpr uint64_t window_bits = 32 * window_words;
// The first segment that a prime of at least bucket_prime_bound strikes: the
// buckets hold every sieving prime of the segments below.
constexpr int64_t first_windowed_segment = bucket_prime_bound * bucket_prime_bound / segment_span;
// The stream strikes with the sieving primes up to 65521 alone, exact below
// 65537^2, beyond the last prime a window below 2^63 needs.
static_assert(bucket_prime_bound % segment_span == 0 && int64_t{65537} * 65537 > int64_t{3037000500},
              "the window stream starts on a segment and is exact");
static_assert(window_bits < (uint64_t{1} << 32), "a window's bit index fits 32 bits");

// A prime above bucket_prime_bound strikes a window at most this often.
constexpr uint32_t max_strikes_per_prime = static_cast<uint32_t>(window_bits / bucket_prime_bound) + 1;
static_assert(window_batch > 2 * max_strikes_per_prime, "a batch holds the strikes of several primes");

// A prime strikes only its multiples q * m with m prime to 30: the wheel
// patterns strike the multiples of 3 and 5 in every segment anyway, and
// this saves 7 of every 15 strikes. The multipliers prime to 30 are
// 1, 7, 11, 13, 17, 19, 23, 29 modulo 30; half_gaps[k] is half the gap from
// the k-th to the next, in which the bit index moves by half_gaps[k] * q.
constexpr uint32_t half_gaps[8] = {3, 2, 1, 2, 1, 2, 3, 1};
// For an odd m modulo 30: how far to the next multiplier prime to 30, and its k.
constexpr uint8_t advance_to_wheel[30] = {0, 0, 0, 4, 0, 2, 0, 0, 0, 2, 0, 0, 0, 0, 0,
                                          2, 0, 0, 0, 0, 0, 2, 0, 0, 0, 4, 0, 2, 0, 0};
constexpr uint8_t wheel_index[30] = {0, 0, 0, 1, 0, 1, 0, 1, 0, 2, 0, 2, 0, 3, 0,
                                     4, 0, 4, 0, 5, 0, 6, 0, 6, 0, 7, 0, 7, 0, 7};

void strike_batch(uint32_t* bits, const uint32_t* batch, uint32_t count) {
  for (uint32_t j = 0; j < count; ++j) clear_bit(bits, batch[j]);
}

void build_window(large_prime_window& window, const prime_tables& tables, int64_t first_segment) {
  window.first_segment = -1;  // no window, should an allocation throw
  if (!window.strikes) {
    // Left uninitialised: filled below.
    window.bits.reset(new uint32_t[window_words]);
    window.strikes.reset(new uint32_t[window_batch]);
  }
  uint32_t* const bits = window.bits.get();
  std::fill(bits, bits + window_words, 0xFFFFFFFF);
  window.first_segment = first_segment;

  // Bit 0 stands for x; every number of the window lies below end.
  const int64_t x = first_segment * segment_span - 1;
  const int64_t end = x + 2 * int64_t{window_bits};
  segment_sieve& stream = window.primes;
  stream.below_2_to_32 = true;
  position_segment(stream, tables, bucket_prime_bound);
  // The strikes of a batch of primes are listed first and made after, in a
  // loop without unpredictable branches, so that many of their cache misses
  // overlap; striking each prime as it comes ends every prime's few strikes
  // with a mispredicted branch, and the misses then come one at a time.
  uint32_t* const batch = window.strikes.get();
  uint32_t count = 0;
  for (;;) {
    const int64_t q = next_segment_prime(stream, tables);
    if (q < bucket_prime_bound) continue;  // bit 0 of the first stream segment
    const int64_t square = q * q;
    if (square >= end) break;
    // m: the first multiplier with q * m at or above x and q^2, and odd, so
    // that q * m is odd; then the first one prime to 30.
    int64_t m = square > x ? q : (x + q - 1) / q;
    m |= 1;
    const auto r = static_cast<uint32_t>(m % 30);
    m += advance_to_wheel[r];
    uint32_t k = wheel_index[r];
    const auto step = static_cast<uint64_t>(q);
    for (auto i = static_cast<uint64_t>((m * q - x) / 2); i < window_bits; i += half_gaps[k] * step, k = (k + 1) % 8)
      batch[count++] = static_cast<uint32_t>(i);
    if (count > window_batch - max_strikes_per_prime) {
      strike_batch(bits, batch, count);
      count = 0;
    }
  }
  strike_batch(bits, batch, count);
}

}  // namespace

void strike_large_primes(large_prime_window& window, const prime_tables& tables, int64_t number, uint32_t* segment) {
  if (number < first_windowed_segment) return;
  if (window.first_segment < 0 || number < window.first_segment || number - window.first_segment >= window_segments)
    build_window(window, tables, number);
  const uint32_t* const slice = window.bits.get() + static_cast<uint64_t>(number - window.first_segment) * segment_words;
  for (uint32_t w = 0; w < segment_words; ++w) segment[w] &= slice[w];
}

}  // namespace veksieve
