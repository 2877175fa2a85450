// Builds a window of the large sieving primes and strikes its slices into the
// segments. A window costs one pass over the primes from bucket_prime_bound
// to the square root of its end, so it is wide; a worker moving on within it
// only reads its slices.
#include "primes/large_prime_window.hpp"

#include "common/config.hpp"
#include "primes/prime_source.hpp"
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

void strike_batch(uint32_t* bits, const uint32_t* batch, uint32_t count) {
  for (uint32_t j = 0; j < count; ++j) clear_bit(bits, batch[j]);
}

void build_window(prime_source& source, int64_t first_segment) {
  large_prime_window& window = source.window;
  if (!window.bits) {
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
  segment_sieve& stream = source.window_primes;
  stream.below_2_to_32 = true;
  position_segment(stream, *source.tables, bucket_prime_bound);
  // The strikes of a batch of primes are listed first and made after, in a
  // loop without unpredictable branches, so that many of their cache misses
  // overlap; striking each prime as it comes ends every prime's few strikes
  // with a mispredicted branch, and the misses then come one at a time.
  uint32_t* const batch = window.strikes.get();
  uint32_t count = 0;
  for (;;) {
    if (stream.pending_count == 0) refill_segment_primes(stream, *source.tables);
    const int64_t q = stream.pending[--stream.pending_count];
    if (q < bucket_prime_bound) continue;  // bit 0 of the first stream segment
    const int64_t square = q * q;
    if (square >= end) break;
    // d: from x to the first odd multiple of q at or above x and q^2.
    int64_t d;
    if (square > x) {
      d = square - x;
    } else {
      const int64_t r = x % q;
      d = r == 0 ? 0 : q - r;
      if (d & 1) d += q;  // x is odd, so an odd multiple lies an even distance on
    }
    const auto step = static_cast<uint64_t>(q);
    for (auto i = static_cast<uint64_t>(d / 2); i < window_bits; i += step) batch[count++] = static_cast<uint32_t>(i);
    if (count > window_batch - max_strikes_per_prime) {
      strike_batch(bits, batch, count);
      count = 0;
    }
  }
  strike_batch(bits, batch, count);
}

}  // namespace

void strike_large_primes(prime_source& source) {
  const int64_t number = source.sieved_segment;
  if (number < first_windowed_segment) return;
  large_prime_window& window = source.window;
  if (window.first_segment < 0 || number < window.first_segment || number - window.first_segment >= window_segments)
    build_window(source, number);
  const uint32_t* const slice = window.bits.get() + static_cast<uint64_t>(number - window.first_segment) * segment_words;
  uint32_t* const segment = source.sieve.segment.get();
  for (uint32_t w = 0; w < segment_words; ++w) segment[w] &= slice[w];
}

}  // namespace veksieve
