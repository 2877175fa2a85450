// The power-residue test: whether -k*2^e is a d-th power modulo p, found as
// (-k*2^e)^((p-1)/d) == 1. Members of a group whose residue differs from the
// leader's by a multiple of d share the leader's result through the cache.
#pragma once

#include <cstdint>

#include "common/macros.hpp"
#include "engine/mulmod.hpp"

namespace veksieve {

// Tag -1: the leader of a group, which stores its result in `group_cache`.
// Tag > 0 and a multiple of d: a member, which reads it. Anything else
// computes its own result and leaves the cache alone.
// d > 2 divides p - 1. The result (reduced, or p for a k that p divides) is 1
// exactly for a d-th power residue.
ALWAYS_INLINE uint64_t power_residue_test(uint32_t k, uint32_t e, uint32_t d, const prime_modulus& m,
                                          int32_t tag, uint64_t& group_cache) {
  ASSERT(d > 2 && (m.p - 1) % d == 0);
  if (tag > 0 && static_cast<uint32_t>(tag) % d == 0) return group_cache;
  const uint64_t p = m.p;

  // A = k * 2^e, reduced, right to left.
  uint64_t a = to_residue(k, m);
  uint64_t b = reduce_once(residue_one(m) << 1, p);
  while (e > 0) {
    if (e & 1) {
      a = mulmod_lazy(a, b, m);
      if (e == 1) {
        a = reduce_once(a, p);
        break;
      }
    }
    b = mulmod_lazy(b, b, m);
    e >>= 1;
  }

  // R = A^Q, right to left; then (-A)^Q = -(A^Q) when Q is odd.
  const uint64_t q = (p - 1) / d;
  uint64_t r = residue_one(m);
  for (uint64_t copy = q; copy != 0; copy >>= 1) {
    if (copy & 1) {
      r = mulmod_lazy(r, a, m);
      if (copy == 1) break;
    }
    a = mulmod_lazy(a, a, m);
  }
  r = from_residue(r, m);
  if (q & 1) r = p - r;

  if (tag == -1) group_cache = r;
  return r;
}

}  // namespace veksieve
