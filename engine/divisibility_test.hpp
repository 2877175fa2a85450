// Whether a 32-bit divisor divides a value, without a division per value:
// the divisor is split into 2^shift times an odd q, and x*q^-1 mod 2^32 is
// x/q when q divides x, and above (2^32 - 1)/q otherwise (x*q^-1 = x/q
// would make x a multiple of q). The filters test many residue differences
// against one degree per prime.
#pragma once

#include <bit>
#include <cstdint>

#include "common/macros.hpp"
#include "common/odd_inverse.hpp"

namespace veksieve {

struct divisibility_test {
  uint32_t mask = 0;     // 2^shift - 1
  uint32_t shift = 0;
  uint32_t inverse = 1;  // q^-1 mod 2^32
  uint32_t limit = UINT32_MAX;  // (2^32 - 1) / q

  constexpr divisibility_test() = default;
  constexpr explicit divisibility_test(uint32_t d) {
    ASSERT(d != 0);
    shift = static_cast<uint32_t>(std::countr_zero(d));
    mask = (uint32_t{1} << shift) - 1;
    const uint32_t q = d >> shift;
    inverse = static_cast<uint32_t>(odd_inverse(q));
    limit = UINT32_MAX / q;
  }

  constexpr bool divides(uint32_t x) const { return (x & mask) == 0 && (x >> shift) * inverse <= limit; }
};

}  // namespace veksieve
