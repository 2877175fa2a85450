// The power-residue test: whether a value A is a d-th power modulo p, found
// as A^((p-1)/d) == 1. The engine tests all sequences of one prime that share
// d together: one exponent, so the values are raised in lockstep and their
// products overlap instead of each waiting for the last.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/macros.hpp"
#include "engine/mulmod.hpp"

namespace veksieve {

// Values raised side by side: enough to cover the product's latency.
constexpr size_t power_residue_lanes = 8;

// is_power[i] = 1 when values[i] (reduced, in the product's representation)
// raised to q is 1, else 0. q >= 1.
inline void power_residue_batch(const uint64_t* values, size_t count, uint64_t q, const prime_modulus& m,
                                uint8_t* is_power) {
  ASSERT(q >= 1);
  const int top = 62 - __builtin_clzll(q);  // the bit below the leading one
  const uint64_t one = residue_one(m);
  for (size_t first = 0; first < count; first += power_residue_lanes) {
    const size_t lanes = count - first < power_residue_lanes ? count - first : power_residue_lanes;
    uint64_t a[power_residue_lanes] = {}, r[power_residue_lanes] = {};
    for (size_t l = 0; l < lanes; ++l) a[l] = r[l] = values[first + l];
    for (int bit = top; bit >= 0; --bit) {
      for (size_t l = 0; l < power_residue_lanes; ++l) r[l] = mulmod_full(r[l], r[l], m);
      if ((q >> bit) & 1) {
        for (size_t l = 0; l < power_residue_lanes; ++l) r[l] = mulmod_full(r[l], a[l], m);
      }
    }
    for (size_t l = 0; l < lanes; ++l) is_power[first + l] = reduce_once(r[l], m.p) == one;
  }
}

}  // namespace veksieve
