// The modular product in plain C++: a 128-bit product and its remainder.
// Exact and independent of any floating-point mode. A factor used for many
// products (the stride, a sequence's step) carries its scaled quotient
// floor(f * 2^64 / p), so that each of those products needs no division.
#pragma once

#include <cstdint>

#include "common/macros.hpp"
#include "engine/prime_modulus.hpp"

namespace veksieve::portable {

struct fixed_factor {
  uint64_t value = 0;     // reduced
  uint64_t quotient = 0;  // floor(value * 2^64 / p)
};

ALWAYS_INLINE uint64_t mulmod_full(uint64_t a, uint64_t b, const prime_modulus& m) {
  return static_cast<uint64_t>(static_cast<unsigned __int128>(a) * b % m.p);
}

// A reduced result is also a valid lazy one.
ALWAYS_INLINE uint64_t mulmod_lazy(uint64_t a, uint64_t b, const prime_modulus& m) {
  return mulmod_full(a, b, m);
}

ALWAYS_INLINE fixed_factor make_fixed_factor(uint64_t value, const prime_modulus& m) {
  const uint64_t reduced = value % m.p;
  return {reduced, static_cast<uint64_t>((static_cast<unsigned __int128>(reduced) << 64) / m.p)};
}

// With f < p the estimate a * quotient / 2^64 falls short of a * f / p by
// less than a / 2^64 < 1, so the quotient taken is the true one or one less
// and the remainder, exact modulo 2^64, lies in [0, 2p).
ALWAYS_INLINE uint64_t mulmod_full(uint64_t a, const fixed_factor& f, const prime_modulus& m) {
  const auto q = static_cast<uint64_t>((static_cast<unsigned __int128>(a) * f.quotient) >> 64);
  const uint64_t r = a * f.value - q * m.p;
  return r >= m.p ? r - m.p : r;
}

}  // namespace veksieve::portable
