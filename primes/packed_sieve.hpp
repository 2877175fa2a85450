// One 32-bit word per sieving prime holds the prime and its strike index, so
// the per-segment pass reads and writes 41 KB instead of twice that. Every
// strike index stored is below p, which is what lets the pair fit.
//
// Classes 1 and 2 (p < 65536): bits 31-16 strike index, bits 15-0 p.
// Classes 3 and 4 (65536 <= p < 131072): bits 31-17 the low 15 bits of p,
// bits 16-0 strike index; the index into packed_sieve tells the class and
// so the high bits of p (0x10000 for class 3, 0x18000 for class 4).
#pragma once

#include "common/macros.hpp"

#include <cstdint>

namespace veksieve {

ALWAYS_INLINE constexpr uint32_t pack_small(uint32_t prime, uint32_t strike) {
  ASSERT(prime < 0x10000 && strike < prime);
  return (strike << 16) | prime;
}
ALWAYS_INLINE constexpr uint32_t small_prime_of(uint32_t word) { return word & 0xFFFF; }
ALWAYS_INLINE constexpr uint32_t small_strike_of(uint32_t word) { return word >> 16; }

ALWAYS_INLINE constexpr uint32_t pack_big(uint32_t prime, uint32_t strike) {
  ASSERT(prime >= 0x10000 && prime < 0x20000 && strike < prime);
  return ((prime & 0x7FFF) << 17) | strike;
}
inline constexpr uint32_t class_3_high_bits = 0x10000;
inline constexpr uint32_t class_4_high_bits = 0x18000;
ALWAYS_INLINE constexpr uint32_t big_prime_of(uint32_t word, uint32_t high_bits) {
  return (word >> 17) | high_bits;
}
ALWAYS_INLINE constexpr uint32_t big_strike_of(uint32_t word) { return word & 0x1FFFF; }
// The same word with a new strike index; the prime's bits stay as they are.
ALWAYS_INLINE constexpr uint32_t with_big_strike(uint32_t word, uint32_t strike) {
  ASSERT(strike < 0x20000);
  return ((word >> 17) << 17) | strike;
}

}  // namespace veksieve
