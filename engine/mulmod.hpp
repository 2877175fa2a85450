// The engine's modular product: Montgomery form with R = 2^64, a value x
// held as x*R mod p, and a product in three integer multiplications with no
// division and no floating-point mode. One context per prime (p, p^-1 mod
// 2^64, R mod p, R^2 mod p) serves every product, power and power-residue
// step. Exact for odd p < 2^62; every value stays reduced below p. Doubling
// and halving commute with the form, and equal forms are equal values.
#pragma once

#include <cstdint>

#include "common/config.hpp"
#include "common/macros.hpp"
#include "common/odd_inverse.hpp"

namespace veksieve {


// The largest prime the product serves; every value stays reduced below p.
constexpr uint64_t product_max_prime = (uint64_t{1} << 62) - 1;
static_assert(product_max_prime >= static_cast<uint64_t>(engine_pmax_limit),
              "the product must serve every prime a range can reach");

// r - p when that is not negative, else r: one step from [0, 2p) to [0, p).
ALWAYS_INLINE uint64_t reduce_once(uint64_t r, uint64_t p) {
  const int64_t s = static_cast<int64_t>(r - p);
  return s >= 0 ? static_cast<uint64_t>(s) : r;
}

struct prime_modulus {
  uint64_t p = 0;    // odd, 3 <= p < 2^62
  uint64_t inv = 0;  // p^-1 mod 2^64
  uint64_t one = 0;  // R mod p: 1 in Montgomery form
  uint64_t r2 = 0;   // R^2 mod p: converts into Montgomery form
};

// t * R^-1 mod p for t < p*R, reduced. With q = lo(t) * p^-1, t - q*p is a
// multiple of R, so it equals (hi(t) - hi(q*p)) * R exactly; both t and q*p
// lie below p*R, so that difference lies in (-p, p).
ALWAYS_INLINE uint64_t reduce(unsigned __int128 t, const prime_modulus& m) {
  const auto lo = static_cast<uint64_t>(t);
  const auto hi = static_cast<uint64_t>(t >> 64);
  const uint64_t q = lo * m.inv;
  const auto qp_hi = static_cast<uint64_t>((static_cast<unsigned __int128>(q) * m.p) >> 64);
  const uint64_t r = hi - qp_hi;
  return hi < qp_hi ? r + m.p : r;
}

// Inputs below p, result below p: the product stays below p^2 < p*R.
ALWAYS_INLINE uint64_t mulmod_full(uint64_t a, uint64_t b, const prime_modulus& m) {
  ASSERT(a < m.p && b < m.p);
  return reduce(static_cast<unsigned __int128>(a) * b, m);
}


// x in Montgomery form for any 64-bit x: x * R^2 < R * p needs no reduction first.
ALWAYS_INLINE uint64_t to_residue(uint64_t x, const prime_modulus& m) {
  return reduce(static_cast<unsigned __int128>(x) * m.r2, m);
}

ALWAYS_INLINE uint64_t from_residue(uint64_t x, const prime_modulus& m) { return reduce(x, m); }

ALWAYS_INLINE uint64_t residue_one(const prime_modulus& m) { return m.one; }

// The context without division: p^-1 by Newton's iteration, R mod p by one 64-bit remainder, and R^2 as
// the Montgomery form of 2^64 = 2^(2^6): 2 squared six times.
ALWAYS_INLINE prime_modulus make_modulus(uint64_t p) {
  ASSERT(p >= 3 && (p & 1) && p <= product_max_prime);
  prime_modulus m;
  m.p = p;
  m.inv = odd_inverse(p);
  m.one = (0 - p) % p;
  uint64_t x = m.one << 1;  // below 2p < 2^63
  if (x >= p) x -= p;
  for (int i = 0; i < 6; ++i) x = mulmod_full(x, x, m);
  m.r2 = x;
  return m;
}

}  // namespace veksieve
