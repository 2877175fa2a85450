// Powers of 2 and of 1/2 modulo the current prime, by left-to-right
// square-and-multiply where a multiplication by 2 is a doubling (or halving),
// in the product's representation (doubling and halving commute with it).
// The small-power table serves every 2^e below a bound with one product.
#pragma once

#include <bit>
#include <cstdint>
#include <vector>

#include "common/config.hpp"
#include "common/macros.hpp"
#include "engine/mulmod.hpp"

namespace veksieve {

// 2^e mod p for e >= 1, reduced.
ALWAYS_INLINE uint64_t pow2_mod(uint32_t e, const prime_modulus& m) {
  ASSERT(e >= 1);
  uint64_t v = residue_one(m) << 1;
  if (v >= m.p) v -= m.p;
  for (int bit = static_cast<int>(std::bit_width(e)) - 2; bit >= 0; --bit) {
    v = mulmod_full(v, v, m);
    if ((e >> bit) & 1) {
      v <<= 1;
      if (v >= m.p) v -= m.p;
    }
  }
  return v;
}

// 2^-e mod p, reduced: powers of h = (p+1)/2 = 1/2, halving modulo p
// (add p to an odd value, then shift) in place of doubling. 2^-0 is 1.
ALWAYS_INLINE uint64_t pow_half_mod(uint32_t e, const prime_modulus& m) {
  const uint64_t one = residue_one(m);
  if (e == 0) return one;
  uint64_t x = (one & 1) ? (one >> 1) + (m.p >> 1) + 1 : one >> 1;
  for (int bit = static_cast<int>(std::bit_width(e)) - 2; bit >= 0; --bit) {
    x = mulmod_full(x, x, m);
    if ((e >> bit) & 1) {
      if (x & 1) x += m.p;
      x >>= 1;
    }
  }
  return x;
}

// 2^e mod p, reduced, for the e of one prime's set-up: e below the bound as
// low[e mod 64] * high[e / 64], the low powers by doublings and the high ones
// by products with 2^64; larger e by square-and-multiply. Both are formed in
// four independent chains, which cuts the build's latency about fourfold.
class pow2_table {
 public:
  // Serves e < bound (at most pow2_table_bound) with one product for prime m.
  void build(uint32_t bound, const prime_modulus& m) {
    ASSERT(bound <= pow2_table_bound);
    bound_ = bound = bound < 1 ? 1 : bound;
    // Chain c doubles from 2^(16c), one product (to_residue) away.
    uint64_t v[chains] = {residue_one(m)};
    for (uint32_t c = 1; c < chains; ++c) v[c] = to_residue(uint64_t{1} << (low_span * c), m);
    for (uint32_t e = 0; e < low_span; ++e) {
      for (uint32_t c = 0; c < chains; ++c) {
        low_[low_span * c + e] = v[c];
        v[c] = reduce_once(v[c] << 1, m.p);
      }
    }
    high_.resize((bound + 63) / 64);
    if (high_.empty()) return;
    // high[i] = 2^(64i): the first four by products with 2^64, then each
    // four on from its own with 2^256.
    const uint64_t two_64 = v[chains - 1];
    high_[0] = residue_one(m);
    const size_t first = high_.size() < chains ? high_.size() : chains;
    for (size_t i = 1; i < first; ++i) high_[i] = mulmod_full(high_[i - 1], two_64, m);
    if (high_.size() <= chains) return;
    const uint64_t two_256 = mulmod_full(high_[chains - 1], two_64, m);
    for (size_t i = chains; i < high_.size(); ++i) high_[i] = mulmod_full(high_[i - chains], two_256, m);
  }

  ALWAYS_INLINE uint64_t operator()(uint32_t e, const prime_modulus& m) const {
    if (e < 64 && e < bound_) return low_[e];
    if (e < bound_) return mulmod_full(low_[e & 63], high_[e >> 6], m);
    return pow2_mod(e, m);
  }

 private:
  static constexpr uint32_t chains = 4;
  static constexpr uint32_t low_span = 64 / chains;
  uint32_t bound_ = 0;
  uint64_t low_[64] = {};
  std::vector<uint64_t> high_;
};

}  // namespace veksieve
