// Greatest common divisor by the binary method (Stein): strip the common
// factors of 2, then subtract and strip factors of 2 until the values meet.
#pragma once

#include <bit>
#include <cstdint>

#include "common/macros.hpp"

namespace veksieve {

constexpr uint64_t binary_gcd(uint64_t a, uint64_t b) {
  if (a == 0) return b;
  if (b == 0) return a;
  const int shift = std::countr_zero(a | b);
  a >>= std::countr_zero(a);
  while (b != 0) {
    b >>= std::countr_zero(b);
    if (a > b) {
      const uint64_t t = a;
      a = b;
      b = t;
    }
    b -= a;
  }
  return a << shift;
}

}  // namespace veksieve
