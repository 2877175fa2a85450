// The stride table of one prime: T[j] = -2^-(nmin + j*M) for j below the
// table length, with its presence map, and chains through the entries of
// each presence block for the rare hit (none for a table the walks are
// expected to hit rarely when the kernel compares a whole table quickly).
// The map keeps its bits until the next table starts and clears them.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "engine/engine_memory.hpp"
#include "engine/kernels/kernel_backend.hpp"

namespace veksieve {

class stride_table {
 public:
  stride_table(uint32_t nmin, uint32_t stride, uint32_t length, engine_memory& memory);

  // The table for prime m, built by `kernel` (whose lane factor for m is
  // `lane_factor`); `steps` is the number of walk steps that will probe it,
  // which decides whether it needs chains.
  void build(const prime_modulus& m, const kernel_backend& kernel, uint64_t lane_factor, uint64_t steps);
  // What the walks look up, where they report, and what counts their searches of the table.
  stride_view view(const prime_modulus& m, const kernel_backend& kernel, const engine_callbacks* callbacks,
                   uint64_t* hits) const;
  uint32_t length() const { return length_; }

  // The expected hits per prime up to which a table goes without chains;
  // tests set 0 on some primes so that both kinds of table are checked.
  void limit_table_scans(double hits) { scan_max_hits_ = hits; }
  std::span<const uint32_t> presence_map() const { return {presence_, blocks_}; }
  std::span<const uint16_t> presence_heads() const { return {head_, blocks_}; }

 private:
  half_power_pair start(const prime_modulus& m, const kernel_backend& kernel);
  uint32_t block_mask() const { return blocks_ - 1; }
  void build_portable(const prime_modulus& m, uint64_t* x, uint64_t multiplier);
  // Clears what the last table set in the map, if it is not clear yet.
  void clear_presence();
  template <class KeyOf>
  void insert_entries(KeyOf key_of, bool set_bits);

  uint32_t nmin_;
  uint32_t stride_;
  uint32_t length_;
  uint32_t blocks_;     // of the presence map, by the length
  uint64_t* table_;     // in the product's representation, reduced
  uint16_t* chain_;     // previous entry of the same presence block
  uint32_t* presence_;  // presence bits of the last table
  uint16_t* head_;      // last entry of each presence block, likewise
  bool chained_ = true;      // the current table has chains and heads
  bool map_dirty_ = false;   // the map holds the last table's bits
  bool heads_dirty_ = false; // ... and its heads
  double scan_max_hits_ = table_scan_max_hits;
  std::vector<uint64_t> keys_;  // each entry's presence_key, from a kernel's build, for the chains
};

}  // namespace veksieve
