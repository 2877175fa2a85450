// The first powers of a stride table, 2^-nmin and 2^-M, by two square-and-halve
// chains in one loop. Each round waits on its products; the caller's work for
// a round (a kernel may clear the last table's presence map there) fills that
// time. Static, so that a kernel's translation unit, built for its own
// instruction set, keeps its own copy.
#pragma once

#include <bit>
#include <cstdint>

#include "common/macros.hpp"
#include "engine/mulmod.hpp"

namespace veksieve {

struct half_power_pair {
  uint64_t a;  // 2^-a
  uint64_t b;
};

// round(i) is called once for each i below `rounds_wanted`: in the rounds of
// the loop counting down where it has enough, the rest before it.
template <class Round>
ALWAYS_INLINE static half_power_pair pow_half_pair(uint32_t a, uint32_t b, const prime_modulus& m, int rounds_wanted,
                                                   Round round) {
  uint64_t x = residue_one(m), y = x;
  const int rounds = static_cast<int>(std::bit_width(a | b));
  for (int extra = rounds; extra < rounds_wanted; ++extra) round(extra);
  for (int bit = rounds - 1; bit >= 0; --bit) {
    if (bit < rounds_wanted) round(bit);
    x = mulmod_full(x, x, m);
    y = mulmod_full(y, y, m);
    x = ((a >> bit) & 1) ? (x + (m.p & (0 - (x & 1)))) >> 1 : x;
    y = ((b >> bit) & 1) ? (y + (m.p & (0 - (y & 1)))) >> 1 : y;
  }
  return {x, y};
}

}  // namespace veksieve
