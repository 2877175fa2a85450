// The current prime as the modular products see it: p and its reciprocal,
// formed once per prime. The reciprocal must be rounded toward minus infinity,
// so it is formed under the engine's floating-point mode (fpu_control.hpp).
#pragma once

#include <cstdint>

#include "common/macros.hpp"

namespace veksieve {

struct prime_modulus {
  uint64_t p = 0;               // odd, 3 <= p < 2^48
  long double reciprocal = 0;   // 1/p, rounded down
};

ALWAYS_INLINE prime_modulus make_modulus(uint64_t p) {
  ASSERT(p >= 3 && (p & 1) && p < (uint64_t{1} << 48));
  return {p, 1.0L / static_cast<long double>(static_cast<int64_t>(p))};
}

// r - p when that is not negative, else r: one step from [0, 2p) to [0, p).
ALWAYS_INLINE uint64_t reduce_once(uint64_t r, uint64_t p) {
  const int64_t s = static_cast<int64_t>(r - p);
  return s >= 0 ? static_cast<uint64_t>(s) : r;
}

}  // namespace veksieve
