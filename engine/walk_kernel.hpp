// The walk kernels: each walks the active sequences' walks over one stride
// and reports every value found in the stride table.
// The scalar kernel walks one chain at a time and is always built; the
// others keep many independent chains in flight (interleaved scalar chains,
// AVX2 and AVX-512 IFMA lanes) and are picked at run time, per prime.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "common/macros.hpp"
#include "engine/sieve_engine.hpp"

namespace veksieve {

enum class walk_kernel : uint8_t { scalar, interleaved, avx2, avx512 };

constexpr walk_kernel all_walk_kernels[] = {walk_kernel::scalar, walk_kernel::interleaved, walk_kernel::avx2,
                                            walk_kernel::avx512};

// The presence map: 4096 blocks of 32 bits, each entry setting two bits of
// the block its low 12 bits name, chosen by the next 10 bits. Two bits per
// entry in 2^17 let through about ten times fewer values that are not in the
// table than one bit per entry in 2^16 did (0.5% against 4.7% of the probes
// at 3000 entries, measured), at the same one gather per probe; a third bit
// cost more in the insertion than it saved. Beside the map, each block's
// head names the last entry of its chain, for the rare hit; an AVX-512
// table that the walks are expected to hit rarely has no chains, and a hit
// compares it whole, which costs less than chaining every entry
// (table_scan_max_hits).
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

// What a walk looks up and where it reports, for one prime.
struct stride_view {
  const uint64_t* table;  // values in the product's representation, reduced
  const uint16_t* chain;  // the entry inserted into the same block before this one
  const uint32_t* presence;
  const uint16_t* head;   // the entry inserted into each block last; null: no chains
  uint32_t length;
  uint32_t nmin;
  uint32_t stride;
  int64_t p;
  const engine_callbacks* callbacks;
};

// One sequence's walk for the scalar kernel: `count` values from `start` at
// exponent offset `t`, each the previous times `multiplier`, t growing by `step`.
struct walk_piece {
  uint64_t start;
  uint64_t multiplier;
  uint64_t t;
  uint32_t step;
  uint32_t count;
  uint32_t index;
};

// A stretch of one sequence's walk in one lane: `count` steps from step
// `begin` of the lane's run, the first at exponent offset `t`.
struct lane_segment {
  uint64_t t;
  uint32_t step;
  uint32_t index;
  uint32_t begin;
  uint32_t count;
};

// The active walks of one prime laid out over a kernel's lanes so that all
// lanes take the same number of steps (`run`) and never wait on one another:
// the walks one after the other, cut every `run` steps. A walk that ends
// inside a lane is padded to whole blocks of walk_switch_block steps, and the
// run is a whole number of blocks, so that lanes change walks only where a
// block starts: at block b each lane l of the bits of switches[b] takes its
// next start and multiplier (in the kernel's lane form) from slot
// b * lanes + l of the queues. Block 0's slots hold every lane's first
// values (0 and 0 for an idle lane). Steps outside every segment of their
// lane report nothing.
struct lane_plan {
  uint32_t run = 0;
  std::vector<uint64_t> switches;
  std::vector<uint64_t> queue_start;
  std::vector<uint64_t> queue_multiplier;
  std::vector<lane_segment> segments;   // lane by lane, each lane's in order of begin (the buffers may be longer)
  std::vector<uint32_t> lane_segments;  // lane l's are [lane_segments[l], lane_segments[l + 1])
};

// Whether both presence bits of z are set.
ALWAYS_INLINE bool present(const uint32_t* presence, uint64_t z) {
  const uint32_t bits = presence_bits(z);
  return (presence[presence_block(z)] & bits) == bits;
}

// Reports every table entry equal to z (the presence bits of z are set): a
// match T[j] = k*2^t gives k*2^(nmin + t + j*M) = -1. Out of line: hits are rare.
void report_matches(const stride_view& view, uint64_t z, uint32_t index, uint64_t t);
// The same for value z of `lane` at step i of its run in `plan`, when that
// step lies in one of the lane's segments.
void report_lane(const stride_view& view, const lane_plan& plan, int lane, uint32_t i, uint64_t z);

// The SIMD kernels (walk_avx2.cpp, walk_avx512.cpp; the scalar ones are in
// walk_scalar.hpp). Values are in the engine's Montgomery form; a lane's
// multiplier is in the lane form the kernel's product needs: plain (s) for
// AVX2, s * 2^52 for AVX-512 IFMA, so that each lane product keeps the form.
void walk_avx2(const stride_view& view, const lane_plan& plan, uint64_t p);
void walk_avx512(const stride_view& view, const lane_plan& plan, uint64_t p);
// starts[l] *= multipliers[l]^exponents[l] for the walk_avx512_lanes lanes,
// the multipliers in the IFMA lane form: the lanes' first values for p.
void raise_starts_avx512(uint64_t* starts, const uint64_t* multipliers, const uint32_t* exponents, uint64_t p);
// The stride table's values for the AVX-512 kernel: table[c] = first[c] for
// the 32 chains c, then table[j + 32] = table[j] * multiplier (lane form).
// Each entry's presence bits are set in `presence` as it is formed, and its
// presence_key kept in keys[j] unless keys is null (for the chains).
void build_table_avx512(uint64_t* table, uint64_t* keys, uint32_t* presence, uint32_t length, const uint64_t* first,
                        uint64_t multiplier, uint64_t p);
// The first j in [from, length) with table[j] = z, else length.
uint32_t find_entry_avx512(const uint64_t* table, uint32_t from, uint32_t length, uint64_t z);
// results[i] = values[i] raised to exponents[i] >= 1, reduced, all in the
// form x*2^52 (`one` is the form of 1): the filters' powers in IFMA lanes.
void power_batch_avx512(const uint64_t* values, const uint64_t* exponents, size_t count, uint64_t one, uint64_t p,
                        uint64_t* results);

// The number of lanes the kernel steps at once.
int kernel_lanes(walk_kernel kernel);
// Whether this build has the kernel and this CPU can run it.
bool kernel_supported(walk_kernel kernel);
// The largest prime for which the kernel is exact.
uint64_t kernel_prime_limit(walk_kernel kernel);
// The fastest supported kernel.
walk_kernel best_walk_kernel();
std::string_view kernel_name(walk_kernel kernel);
std::optional<walk_kernel> kernel_from_name(std::string_view name);

}  // namespace veksieve
