// The Jacobi symbol (x/p) of a negative x by the binary method: factors of 2
// flip by the table below, reciprocity flips when both values are 3 mod 4,
// and only shifts, subtractions and one 64-bit remainder are needed.
#pragma once

#include <bit>
#include <cstdint>

#include "common/macros.hpp"

namespace veksieve {

// 1 where 2 is a non-residue of the odd m, indexed by m mod 8 (3 and 5).
constexpr uint8_t flip2[8] = {0, 0, 0, 1, 0, 1, 0, 0};

// +1, -1, or 0 when x and p share a factor. x < 0, p odd.
ALWAYS_INLINE int jacobi_symbol(int64_t x, uint64_t p) {
  ASSERT(x < 0 && (p & 1));
  unsigned flips = 0;
  // Any power of 2 is accepted (even k included); each factor flips alike.
  const int twos = std::countr_zero(static_cast<uint64_t>(x));
  x >>= twos;
  if (twos & 1) flips += flip2[p & 7];
  // One flip when bit 1 is set in both p and x (two's complement): the sign
  // of x, (-1/p), and the reciprocity of (-x/p) and (p/-x) taken together.
  flips += static_cast<unsigned>((p & static_cast<uint64_t>(x) & 2) >> 1);
  uint64_t m = static_cast<uint64_t>(-x);
  uint64_t a = p % m;
  while (a != 0) {
    const int z = std::countr_zero(a);
    a >>= z;
    if (z & 1) flips += flip2[m & 7];
    if (a > m) {
      a -= m;
    } else if (a == m) {
      break;
    } else {
      flips += static_cast<unsigned>((m & a & 2) >> 1);
      const uint64_t next_a = m - a;
      m = a;
      a = next_a;
    }
  }
  if (m != 1) return 0;
  return (flips & 1) ? -1 : 1;
}

}  // namespace veksieve
