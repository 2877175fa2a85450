// Builds the wheel patterns and combines their windows into a new segment.
// A pattern's period is the product of its primes in words, so 32 times it is
// a multiple of every member and word w + period equals word w.
#include "primes/wheel_patterns.hpp"

#include <initializer_list>
#include <memory>

namespace veksieve {
namespace {

std::unique_ptr<uint32_t[]> build_pattern(uint32_t period, std::initializer_list<uint32_t> primes) {
  const uint32_t words = period + segment_words;
  auto pattern = std::make_unique<uint32_t[]>(words);
  for (uint32_t w = 0; w < words; ++w) pattern[w] = 0xFFFFFFFF;
  // Bit (q + 1) / 2 stands for q itself: q is struck along with its multiples.
  for (uint32_t q : primes)
    for (uint32_t k = (q + 1) / 2; k < 32 * words; k += q) pattern[k / 32] &= ~(uint32_t{1} << (k % 32));
  return pattern;
}

uint32_t advance(uint32_t pos, uint32_t period) {
  pos += segment_words;
  return pos >= period ? pos - period : pos;
}

// The pre-sieve periods may be shorter than a segment.
uint32_t advance_short(uint32_t pos, uint32_t period) { return (pos + segment_words) % period; }

}  // namespace

void build_wheel_patterns(prime_tables& tables) {
  tables.pattern_5_29_31 = build_pattern(period_5_29_31, {5, 29, 31});
  tables.pattern_3_7_13_17 = build_pattern(period_3_7_13_17, {3, 7, 13, 17});
  tables.pattern_11_19_23 = build_pattern(period_11_19_23, {11, 19, 23});
  for (uint32_t j = 0; j < presieve_pattern_count; ++j) {
    const uint32_t p = tables.sieving_primes[2 * j], q = tables.sieving_primes[2 * j + 1];
    tables.presieve_periods[j] = p * q;
    tables.presieve_patterns[j] = build_pattern(p * q, {p, q});
  }
}

uint32_t wheel_position(int64_t segment_start, uint32_t period) {
  ASSERT(segment_start >= 0 && segment_start % segment_span == 0);
  return static_cast<uint32_t>((segment_start / 64) % period);
}

void combine_wheel_windows(segment_sieve& sieve, const prime_tables& tables) {
  const uint32_t* a = tables.pattern_5_29_31.get() + sieve.pos_5_29_31;
  const uint32_t* b = tables.pattern_3_7_13_17.get() + sieve.pos_3_7_13_17;
  const uint32_t* c = tables.pattern_11_19_23.get() + sieve.pos_11_19_23;
  uint32_t* __restrict segment = sieve.segment.get();
  for (uint32_t w = 0; w < segment_words; ++w) segment[w] = a[w] & b[w] & c[w];
  // Two patterns a pass: the segment stays in the first-level cache.
  for (uint32_t j = 0; j < presieve_pattern_count; j += 2) {
    const uint32_t* __restrict d = tables.presieve_patterns[j].get() + sieve.presieve_pos[j];
    const uint32_t* __restrict e = tables.presieve_patterns[j + 1].get() + sieve.presieve_pos[j + 1];
    for (uint32_t w = 0; w < segment_words; ++w) segment[w] &= d[w] & e[w];
    sieve.presieve_pos[j] = advance_short(sieve.presieve_pos[j], tables.presieve_periods[j]);
    sieve.presieve_pos[j + 1] = advance_short(sieve.presieve_pos[j + 1], tables.presieve_periods[j + 1]);
  }

  sieve.pos_5_29_31 = advance(sieve.pos_5_29_31, period_5_29_31);
  sieve.pos_3_7_13_17 = advance(sieve.pos_3_7_13_17, period_3_7_13_17);
  sieve.pos_11_19_23 = advance(sieve.pos_11_19_23, period_11_19_23);
}

}  // namespace veksieve
