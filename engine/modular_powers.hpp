// Powers of 2 and of 1/2 modulo the current prime, by left-to-right
// square-and-multiply where a multiplication by 2 is a doubling (or halving),
// in the product's representation (doubling and halving commute with it).
// The power cache lets consecutive sequences with one step share 2^step.
#pragma once

#include <bit>
#include <cstdint>

#include "common/macros.hpp"
#include "engine/mulmod.hpp"

namespace veksieve {

// The last 2^step mod p that pow2_mod_cached computed. Step 0 never occurs,
// so the zero state cannot serve a value.
struct power_cache {
  uint32_t step = 0;
  uint64_t p = 0;
  uint64_t value = 0;
};

// 2^e mod p for e >= 1, lazy in [0, 3p): squaring leaves [0, 2p), doubling
// with one conditional subtraction keeps it below 3p (below p when the
// product's results are full).
ALWAYS_INLINE uint64_t pow2_lazy(uint32_t e, const prime_modulus& m) {
  ASSERT(e >= 1);
  uint64_t v = residue_one(m) << 1;
  if (v >= m.p) v -= m.p;
  for (int bit = static_cast<int>(std::bit_width(e)) - 2; bit >= 0; --bit) {
    v = mulmod_lazy(v, v, m);
    if ((e >> bit) & 1) {
      v <<= 1;
      if (v >= m.p) v -= m.p;
    }
  }
  return v;
}

// k * 2^e mod p, reduced. k may exceed p (small primes).
ALWAYS_INLINE uint64_t mul_pow2_mod(uint32_t k, uint32_t e, const prime_modulus& m) {
  const uint64_t kr = to_residue(k, m);
  if (e == 0) return kr;
  if (e == 1) return reduce_once(kr << 1, m.p);
  return mulmod_full(kr, pow2_lazy(e, m), m);
}

// 2^s mod p (s >= 1), lazy in [0, 3p), from the cache when s and p match it.
ALWAYS_INLINE uint64_t pow2_mod_cached(uint32_t s, const prime_modulus& m, power_cache& cache) {
  if (s == cache.step && m.p == cache.p) return cache.value;
  const uint64_t v = pow2_lazy(s, m);
  cache = {s, m.p, v};
  return v;
}

// 2^-e mod p, lazy in [0, 2p): powers of h = (p+1)/2 = 1/2, halving modulo p
// (add p to an odd value, then shift) in place of doubling. 2^-0 is 1.
ALWAYS_INLINE uint64_t pow_half_mod(uint32_t e, const prime_modulus& m) {
  const uint64_t one = residue_one(m);
  if (e == 0) return one;
  uint64_t x = (one & 1) ? (one >> 1) + (m.p >> 1) + 1 : one >> 1;
  for (int bit = static_cast<int>(std::bit_width(e)) - 2; bit >= 0; --bit) {
    x = mulmod_lazy(x, x, m);
    if ((e >> bit) & 1) {
      if (x & 1) x += m.p;
      x >>= 1;
    }
  }
  return x;
}

}  // namespace veksieve
