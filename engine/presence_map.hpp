// The presence map of a stride table: up to 8192 blocks of 32 bits, each
// entry setting two bits of the block its low bits name, chosen by its bits
// 13-17 and 18-22. Two bits per entry let through a few values in a thousand
// that are not in the table, each of which costs a search of the table.
// A long table gets all 8192 blocks (32 KB, still in the first-level cache
// beside the table), which halves those hits against 4096 (W3 near 10^12:
// 7.3 to 3.2 a prime, 8% off its time); a shorter one, whose walks hit it
// less, uses the first 4096, which are cleared in half the time. A third
// bit cost more in the insertion than it saved. Beside the map, each
// block's head names the last entry of its chain, for the rare hit.
#pragma once

#include <cstdint>

#include "common/config.hpp"
#include "common/macros.hpp"

namespace veksieve {

constexpr uint32_t presence_block_count = 8192;  // the most a map has
constexpr int presence_first_shift = 13;
constexpr int presence_second_shift = 18;

// The blocks of a table's map, by its length: all of them from
// presence_wide_length entries up, where the searches of the table they
// save (about two a prime) outweigh clearing the second half.
constexpr uint32_t presence_blocks_for(uint32_t length) {
  return length >= presence_wide_length ? presence_block_count : presence_block_count / 2;
}

ALWAYS_INLINE constexpr uint32_t presence_block(uint64_t z, uint32_t block_mask) {
  return static_cast<uint32_t>(z) & block_mask;
}
ALWAYS_INLINE constexpr uint32_t presence_bits(uint64_t z) {
  return uint32_t{1} << ((z >> presence_first_shift) & 31) | uint32_t{1} << ((z >> presence_second_shift) & 31);
}
// The share of values not in a table of `length` entries whose presence bits
// are set, for the cost of the hits: about 1/256 for each value whose block
// holds an entry, more where a block holds several (within 20% of counts
// for 500 to 5000 entries).
constexpr double presence_hit_share(uint32_t length) {
  const double per_block = static_cast<double>(length) / presence_blocks_for(length);
  return per_block / 256 * (1 + per_block / 2);
}
// Both in one word, block low and bits high, as the table build inserts them.
ALWAYS_INLINE constexpr uint64_t presence_key(uint64_t z, uint32_t block_mask) {
  return presence_block(z, block_mask) | uint64_t{presence_bits(z)} << 32;
}

// Whether both presence bits of z are set.
ALWAYS_INLINE bool present(const uint32_t* presence, uint32_t block_mask, uint64_t z) {
  const uint32_t bits = presence_bits(z);
  return (presence[presence_block(z, block_mask)] & bits) == bits;
}

}  // namespace veksieve
