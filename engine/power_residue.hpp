// The power-residue test: whether a value A is a d-th power modulo p, found
// as A^((p-1)/d) == 1. The engine tests all sequences of one prime together,
// each value with its own exponent, so that tests of several d share one
// batch. The powers go right to left: each lane's chain of squarings is the
// only dependent path, and the multiplications into the result overlap it.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "common/macros.hpp"
#include "engine/mulmod.hpp"

namespace veksieve {

// Values raised side by side: enough to cover the product's latency.
constexpr size_t power_residue_lanes = 8;

// is_power[i] = 1 when values[i] (reduced, in the product's representation)
// raised to exponents[i] >= 1 is 1, else 0.
inline void power_residue_batch(const uint64_t* values, const uint64_t* exponents, size_t count,
                                const prime_modulus& m, uint8_t* is_power) {
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
    for (size_t l = 0; l < lanes; ++l) is_power[first + l] = reduce_once(result[l], m.p) == one;
  }
}

}  // namespace veksieve
