// The presence map of a stride table: 4096 blocks of 32 bits, each entry
// setting two bits of the block its low 12 bits name, chosen by the next 10
// bits. Two bits per entry in 2^17 let through about ten times fewer values
// that are not in the table than one bit per entry in 2^16 did (0.5% against
// 4.7% of the probes at 3000 entries, measured), at the same one gather per
// probe; a third bit cost more in the insertion than it saved. Beside the
// map, each block's head names the last entry of its chain, for the rare hit.
#pragma once

#include <cstdint>

#include "common/macros.hpp"

namespace veksieve {

constexpr uint32_t presence_block_count = 4096;
constexpr uint32_t presence_block_mask = presence_block_count - 1;
constexpr int presence_first_shift = 12;
constexpr int presence_second_shift = 17;

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
