// The modular product in plain C++: a 128-bit product and its remainder.
// Exact and independent of any floating-point mode, but a division per
// product; it is the fallback where there is no x87 extended type.
#pragma once

#include <cstdint>

#include "common/macros.hpp"
#include "engine/prime_modulus.hpp"

namespace veksieve::portable {

struct fixed_factor {
  uint64_t value = 0;
};

ALWAYS_INLINE uint64_t mulmod_full(uint64_t a, uint64_t b, const prime_modulus& m) {
  return static_cast<uint64_t>(static_cast<unsigned __int128>(a) * b % m.p);
}

// A reduced result is also a valid lazy one.
ALWAYS_INLINE uint64_t mulmod_lazy(uint64_t a, uint64_t b, const prime_modulus& m) {
  return mulmod_full(a, b, m);
}

ALWAYS_INLINE fixed_factor make_fixed_factor(uint64_t value, const prime_modulus&) {
  return {value};
}

ALWAYS_INLINE uint64_t mulmod_full(uint64_t a, const fixed_factor& f, const prime_modulus& m) {
  return mulmod_full(a, f.value, m);
}

}  // namespace veksieve::portable
