// The inverse of an odd number modulo 2^64 by Newton's iteration: q is its
// own inverse in the low 3 bits, and each step doubles the correct bits, so
// five steps reach 96. The Montgomery products, the kernels' lane products
// and the division-free divisibility tests all start from it.
#pragma once

#include <cstdint>

namespace veksieve {

constexpr uint64_t odd_inverse(uint64_t q) {
  uint64_t inverse = q;
  for (int i = 0; i < 5; ++i) inverse *= 2 - q * inverse;
  return inverse;
}

}  // namespace veksieve
