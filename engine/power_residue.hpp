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
inline void power_batch(const uint64_t* values, const uint64_t* exponents, size_t count, const prime_modulus& m,
                        uint64_t* results) {
  const uint64_t one = residue_one(m);
  for (size_t first = 0; first < count; first += power_residue_lanes) {
    const size_t lanes = count - first < power_residue_lanes ? count - first : power_residue_lanes;
    uint64_t square[power_residue_lanes] = {}, result[power_residue_lanes], e[power_residue_lanes] = {};
    uint64_t all_bits = 0;
    for (size_t l = 0; l < power_residue_lanes; ++l) result[l] = one;
    for (size_t l = 0; l < lanes; ++l) {
      ASSERT(exponents[first + l] >= 1);
      square[l] = values[first + l];
      e[l] = exponents[first + l];
      all_bits |= e[l];
    }
    for (int bit = static_cast<int>(std::bit_width(all_bits)); bit > 0; --bit) {
      for (size_t l = 0; l < power_residue_lanes; ++l) {
        const uint64_t product = mulmod_full(result[l], square[l], m);
        result[l] = (e[l] & 1) ? product : result[l];
        e[l] >>= 1;
        square[l] = mulmod_full(square[l], square[l], m);
      }
    }
    for (size_t l = 0; l < lanes; ++l) results[first + l] = reduce_once(result[l], m.p);
  }
}

}  // namespace veksieve
