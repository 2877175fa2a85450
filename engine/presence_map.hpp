// The presence map of a stride table: 8192 blocks of 32 bits, each entry
// setting two bits of the block its low 13 bits name, chosen by the next 10
// bits. Two bits per entry in 2^18 let through a few values in a thousand
// that are not in the table, each of which costs a search of the table; the
// map, 32 KB, still lies in the first-level cache beside the table. Against
// 4096 blocks it halved those hits (W3 near 10^12: 7.3 to 3.2 a prime) and
// took 8% off W3's time, at no cost to the smaller tables of W2, whose map
// is cleared behind the first powers' products. A third bit cost more in
// the insertion than it saved. Beside the map, each block's head names the
// last entry of its chain, for the rare hit.
#pragma once

#include <cstdint>

#include "common/macros.hpp"

namespace veksieve {

constexpr uint32_t presence_block_count = 8192;
constexpr uint32_t presence_block_mask = presence_block_count - 1;
constexpr int presence_first_shift = 13;
constexpr int presence_second_shift = 18;

ALWAYS_INLINE constexpr uint32_t presence_block(uint64_t z) { return static_cast<uint32_t>(z) & presence_block_mask; }
ALWAYS_INLINE constexpr uint32_t presence_bits(uint64_t z) {
  return uint32_t{1} << ((z >> presence_first_shift) & 31) | uint32_t{1} << ((z >> presence_second_shift) & 31);
}
// The share of values not in a table of `length` entries whose presence bits
// are set, for the cost of the hits: about 1/256 for each value whose block
// holds an entry, more where a block holds several (within 20% of counts
// for 500 to 5000 entries).
constexpr double presence_hit_share(uint32_t length) {
  const double per_block = static_cast<double>(length) / presence_block_count;
  return per_block / 256 * (1 + per_block / 2);
}
// Both in one word, block low and bits high, as the table build inserts them.
ALWAYS_INLINE constexpr uint64_t presence_key(uint64_t z) {
  return presence_block(z) | uint64_t{presence_bits(z)} << 32;
}

// Whether both presence bits of z are set.
ALWAYS_INLINE bool present(const uint32_t* presence, uint64_t z) {
  const uint32_t bits = presence_bits(z);
  return (presence[presence_block(z)] & bits) == bits;
}

}  // namespace veksieve
