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

// results[i] = values[i] raised to exponents[i] >= 1, reduced; values
// reduced, in the product's representation.
template <size_t lane_count>
void power_lanes(const uint64_t* values, const uint64_t* exponents, size_t lanes, const prime_modulus& m,
                 uint64_t* results) {
  uint64_t square[lane_count] = {}, result[lane_count], e[lane_count] = {};
  uint64_t all_bits = 0;
  for (size_t l = 0; l < lane_count; ++l) result[l] = residue_one(m);
  for (size_t l = 0; l < lanes; ++l) {
    ASSERT(exponents[l] >= 1);
    square[l] = values[l];
    e[l] = exponents[l];
    all_bits |= e[l];
  }
  for (int bit = static_cast<int>(std::bit_width(all_bits)); bit > 0; --bit) {
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
