// The modular product with its quotient estimated in the x87 extended type:
// two floating-point products and one conversion, then 64-bit integer
// products that wrap. Needs the engine's mode (64-bit mantissa, rounding down).
#pragma once

#include <cstdint>

#include "common/macros.hpp"
#include "engine/prime_modulus.hpp"

#if !(defined(__x86_64__) || defined(__i386__))
#error "mulmod_x87.hpp needs the x87 unit; use mulmod_montgomery.hpp"
#endif

namespace veksieve::x87 {

// The largest prime the quotient estimate serves (its 64-bit mantissa).
constexpr uint64_t max_prime = (uint64_t{1} << 48) - 1;

// p and its reciprocal, rounded down: formed once per prime under the x87
// mode (fpu_control.hpp).
struct prime_modulus {
  uint64_t p = 0;              // odd, 3 <= p < 2^48
  long double reciprocal = 0;  // 1/p, rounded down
};

ALWAYS_INLINE prime_modulus make_modulus(uint64_t p) {
  ASSERT(p >= 3 && (p & 1) && p <= max_prime);
  return {p, 1.0L / static_cast<long double>(static_cast<int64_t>(p))};
}

// Values are held as themselves.
ALWAYS_INLINE uint64_t to_residue(uint64_t x, const prime_modulus& m) { return x < m.p ? x : x % m.p; }
ALWAYS_INLINE uint64_t from_residue(uint64_t x, const prime_modulus& m) { return reduce_once(x, m.p); }
ALWAYS_INLINE uint64_t residue_one(const prime_modulus&) { return 1; }

// A factor used for many products: its value and value * (1/p), rounded down,
// so that each product needs one floating-point multiplication.
struct fixed_factor {
  uint64_t value = 0;
  long double scaled = 0;
};

// floor(x) for 0 <= x < 2^63: fistp converts in the current rounding mode,
// which is toward minus infinity (a C cast would switch modes twice).
ALWAYS_INLINE uint64_t floor_to_u64(long double x) {
  int64_t q;
  asm("fistpll %0" : "=m"(q) : "t"(x) : "st");
  return static_cast<uint64_t>(q);
}

ALWAYS_INLINE long double to_extended(uint64_t a) {
  return static_cast<long double>(static_cast<int64_t>(a));  // exact: a < 2^63
}

// Every rounding goes down, so q never exceeds floor(a*b/p); the three
// relative errors below 2^-63 each, on a quotient below 9p < 2^52, cost less
// than 1, so q is the floor or one less and a*b - q*p lies in [0, 2p).
ALWAYS_INLINE uint64_t mulmod_lazy(uint64_t a, uint64_t b, const prime_modulus& m) {
  ASSERT(a < 3 * m.p && b < 3 * m.p);
  const uint64_t q = floor_to_u64(to_extended(a) * to_extended(b) * m.reciprocal);
  const uint64_t r = a * b - q * m.p;
  ASSERT(r < 2 * m.p && r % m.p == static_cast<uint64_t>(static_cast<unsigned __int128>(a) * b % m.p));
  return r;
}

ALWAYS_INLINE uint64_t mulmod_full(uint64_t a, uint64_t b, const prime_modulus& m) {
  return reduce_once(mulmod_lazy(a, b, m), m.p);
}

ALWAYS_INLINE fixed_factor make_fixed_factor(uint64_t value, const prime_modulus& m) {
  return {value, to_extended(value) * m.reciprocal};
}

// The same bound holds: value*(1/p) and the final product each round down once.
ALWAYS_INLINE uint64_t mulmod_full(uint64_t a, const fixed_factor& f, const prime_modulus& m) {
  ASSERT(a < 3 * m.p && f.value < 3 * m.p);
  const uint64_t q = floor_to_u64(to_extended(a) * f.scaled);
  const uint64_t r = a * f.value - q * m.p;
  ASSERT(r < 2 * m.p && r % m.p == static_cast<uint64_t>(static_cast<unsigned __int128>(a) * f.value % m.p));
  return reduce_once(r, m.p);
}

}  // namespace veksieve::x87
