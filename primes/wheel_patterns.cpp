// Builds the wheel patterns and combines their windows into a new segment.
// A pattern's period is the product of its primes in words, so 32 times it is
// a multiple of every member and word w + period equals word w.
#include "primes/wheel_patterns.hpp"

#include "common/macros.hpp"

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

// A period may be shorter than a segment.
uint32_t advance(uint32_t pos, uint32_t period) { return (pos + segment_words) % period; }

}  // namespace

wheel_patterns build_wheel_patterns(const uint32_t* sieving_primes) {
  wheel_patterns patterns;
  patterns.pattern_5_29_31 = build_pattern(period_5_29_31, {5, 29, 31});
  patterns.pattern_3_7_13_17 = build_pattern(period_3_7_13_17, {3, 7, 13, 17});
  patterns.pattern_11_19_23 = build_pattern(period_11_19_23, {11, 19, 23});
  for (uint32_t j = 0; j < presieve_pattern_count; ++j) {
    const uint32_t p = sieving_primes[2 * j], q = sieving_primes[2 * j + 1];
    patterns.presieve_periods[j] = p * q;
    patterns.presieve_patterns[j] = build_pattern(p * q, {p, q});
  }
  return patterns;
}

wheel_positions wheel_positions_at(const wheel_patterns& patterns, int64_t segment_start) {
  ASSERT(segment_start >= 0 && segment_start % segment_span == 0);
  const auto at = [segment_start](uint32_t period) { return static_cast<uint32_t>((segment_start / 64) % period); };
  wheel_positions positions;
  positions.pos_5_29_31 = at(period_5_29_31);
  positions.pos_3_7_13_17 = at(period_3_7_13_17);
  positions.pos_11_19_23 = at(period_11_19_23);
  for (uint32_t j = 0; j < presieve_pattern_count; ++j) positions.presieve_pos[j] = at(patterns.presieve_periods[j]);
  return positions;
}

void combine_wheel_windows(const wheel_patterns& patterns, wheel_positions& positions, uint32_t* __restrict segment) {
  const uint32_t* a = patterns.pattern_5_29_31.get() + positions.pos_5_29_31;
  const uint32_t* b = patterns.pattern_3_7_13_17.get() + positions.pos_3_7_13_17;
  const uint32_t* c = patterns.pattern_11_19_23.get() + positions.pos_11_19_23;
  for (uint32_t w = 0; w < segment_words; ++w) segment[w] = a[w] & b[w] & c[w];
  // Two patterns a pass: the segment stays in the first-level cache.
  for (uint32_t j = 0; j < presieve_pattern_count; j += 2) {
    const uint32_t* __restrict d = patterns.presieve_patterns[j].get() + positions.presieve_pos[j];
    const uint32_t* __restrict e = patterns.presieve_patterns[j + 1].get() + positions.presieve_pos[j + 1];
    for (uint32_t w = 0; w < segment_words; ++w) segment[w] &= d[w] & e[w];
    positions.presieve_pos[j] = advance(positions.presieve_pos[j], patterns.presieve_periods[j]);
    positions.presieve_pos[j + 1] = advance(positions.presieve_pos[j + 1], patterns.presieve_periods[j + 1]);
  }

  positions.pos_5_29_31 = advance(positions.pos_5_29_31, period_5_29_31);
  positions.pos_3_7_13_17 = advance(positions.pos_3_7_13_17, period_3_7_13_17);
  positions.pos_11_19_23 = advance(positions.pos_11_19_23, period_11_19_23);
}

}  // namespace veksieve
