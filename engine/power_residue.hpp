// The filters' powers: several values of one prime, each raised to its own
// exponent, together. A value A is a d-th power modulo p exactly when
// A^((p-1)/d) is 1. The powers go right to left: each lane's chain of
// squarings is the only dependent path, and the multiplications into the
// result overlap it.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "common/macros.hpp"
#include "engine/mulmod.hpp"

namespace veksieve {

// Values raised side by side: enough to cover the product's latency.
constexpr size_t power_residue_lanes = 8;

// Exponents of at least this many bits go left to right in windows of four
// bits: each lane's table of x^0 ... x^15 (14 products), then per window
// four squarings and a product by its digit's entry, which a lane looks up
// on its own. About 1.25 products per bit and the table, against 2 per bit
// right to left: a third fewer for the residue tests' exponents of 40 to
// 60 bits. The chain is longer, so one or two lanes, which wait on it, go
// right to left.
constexpr int power_window_least_bits = 24;

template <size_t lane_count>
void power_lanes_windowed(const uint64_t* values, const uint64_t* exponents, size_t lanes, int bits,
                          const prime_modulus& m, uint64_t* results) {
  uint64_t table[lane_count][16], result[lane_count], e[lane_count] = {};
  for (size_t l = 0; l < lane_count; ++l) {
    table[l][0] = residue_one(m);
    table[l][1] = l < lanes ? values[l] : residue_one(m);
    if (l < lanes) e[l] = exponents[l];
  }
  for (int j = 2; j < 16; ++j) {
    for (size_t l = 0; l < lane_count; ++l) table[l][j] = mulmod_full(table[l][j - 1], table[l][1], m);
  }
  int shift = (bits - 1) / 4 * 4;
  for (size_t l = 0; l < lane_count; ++l) result[l] = table[l][e[l] >> shift & 15];
  for (shift -= 4; shift >= 0; shift -= 4) {
    for (int square = 0; square < 4; ++square) {
      for (size_t l = 0; l < lane_count; ++l) result[l] = mulmod_full(result[l], result[l], m);
    }
    for (size_t l = 0; l < lane_count; ++l) result[l] = mulmod_full(result[l], table[l][e[l] >> shift & 15], m);
  }
  for (size_t l = 0; l < lanes; ++l) results[l] = result[l];
}

// results[i] = values[i] raised to exponents[i] >= 1, reduced; values
// reduced, in the product's representation.
template <size_t lane_count>
void power_lanes(const uint64_t* values, const uint64_t* exponents, size_t lanes, const prime_modulus& m,
                 uint64_t* results) {
  uint64_t all_bits = 0;
  for (size_t l = 0; l < lanes; ++l) all_bits |= exponents[l];
  const auto bits = static_cast<int>(std::bit_width(all_bits));
  if (lane_count >= 4 && bits >= power_window_least_bits) {
    power_lanes_windowed<lane_count>(values, exponents, lanes, bits, m, results);
    return;
  }
  uint64_t square[lane_count] = {}, result[lane_count], e[lane_count] = {};
  for (size_t l = 0; l < lane_count; ++l) result[l] = residue_one(m);
  for (size_t l = 0; l < lanes; ++l) {
    ASSERT(exponents[l] >= 1);
    square[l] = values[l];
    e[l] = exponents[l];
  }
  for (int bit = bits; bit > 0; --bit) {
    for (size_t l = 0; l < lane_count; ++l) {
      const uint64_t product = mulmod_full(result[l], square[l], m);
      result[l] = (e[l] & 1) ? product : result[l];
      e[l] >>= 1;
      square[l] = mulmod_full(square[l], square[l], m);
    }
  }
  for (size_t l = 0; l < lanes; ++l) results[l] = reduce_once(result[l], m.p);
}

inline void power_batch(const uint64_t* values, const uint64_t* exponents, size_t count, const prime_modulus& m,
                        uint64_t* results) {
  if (count == 1) {
    power_lanes<1>(values, exponents, 1, m, results);  // the latency of one chain, no idle lanes
    return;
  }
  for (size_t first = 0; first < count; first += power_residue_lanes) {
    const size_t lanes = count - first < power_residue_lanes ? count - first : power_residue_lanes;
    power_lanes<power_residue_lanes>(values + first, exponents + first, lanes, m, results + first);
  }
}

}  // namespace veksieve
