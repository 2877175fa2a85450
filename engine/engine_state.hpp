// One engine's state: the per-sequence arrays, the scalars fixed at set-up,
// the filters' tables, the per-prime powers and the three blocks of the stride search. Nothing is
// static, so engines on several threads do not meet. sieve_prime() is the
// whole work for one prime; the prime loop (sieve_engine.cpp) draws primes.
#pragma once

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "common/config.hpp"
#include "engine/divisibility_test.hpp"
#include "engine/modular_powers.hpp"
#include "engine/quadratic_character.hpp"
#include "engine/sieve_engine.hpp"
#include "engine/stride_sizing.hpp"
#include "engine/walk_kernel.hpp"

namespace veksieve {

class engine_state {
 public:
  // Set-up: obtains every block through the allocation callback (a null
  // callback means calloc/free) and builds the groups. `sizing` must be ok().
  // Throws std::bad_alloc, after giving back what it got, when the callback
  // returns null.
  engine_state(const sequence_set& sequences, const engine_callbacks& callbacks, const stride_sizing& sizing);
  ~engine_state();
  engine_state(const engine_state&) = delete;
  engine_state& operator=(const engine_state&) = delete;

  // Filters the sequences for the odd prime p (below 2^62, or 2^48 with the
  // x87 product) and searches the ones that pass, reporting each solution
  // through the factor callback.
  void sieve_prime(int64_t p);

  // The walk kernel, by default the fastest this CPU runs, or the one named
  // by the environment variable VEKSIEVE_KERNEL (scalar, interleaved, avx2,
  // avx512) when this CPU runs it. A prime above the kernel's exact range is
  // walked by the interleaved kernel. Tests pin each kernel in turn.
  void pin_kernel(walk_kernel kernel) { kernel_ = kernel; }
  // The expected hits per prime up to which an AVX-512 table has no chains;
  // tests set 0 on some primes so that both kinds of table are checked.
  void limit_table_scans(double hits) { scan_max_hits_ = hits; }
  walk_kernel kernel_for(uint64_t p) const;

  // Read-only views for the tests.
  std::span<const int32_t> group_tags() const { return {group_tag_, count_}; }
  std::span<const int32_t> group_sizes() const { return {group_size_, count_}; }
  std::span<const int32_t> class_exponents() const { return {class_exponent_, count_}; }
  std::span<const int64_t> parity_values() const { return {parity_value_, count_}; }
  std::span<const uint32_t> active_flags() const { return {active_, count_}; }
  std::span<const uint32_t> presence_map() const { return {presence_, presence_block_count}; }
  std::span<const uint16_t> presence_heads() const { return {head_, presence_block_count}; }

 private:
  void* obtain(size_t bytes);
  void give_back(void* block);
  void release_all();
  void build_groups();
  void build_filters();
  // sequence_filter.cpp: marks the sequences that can have a solution for p.
  bool mark_active(const prime_modulus& m, walk_kernel kernel);
  void raise_together(const uint64_t* values, const uint64_t* exponents, size_t count, const prime_modulus& m,
                      walk_kernel kernel, uint8_t* is_power);
  void activate(size_t i, const prime_modulus& m);
  // stride_search.cpp: the table for p, the walks, and the clearing.
  void stride_search(const prime_modulus& m, walk_kernel kernel);
  // `steps`: the walk steps of the active sequences over one stride.
  void build_table(const prime_modulus& m, walk_kernel kernel, uint64_t steps);
  void cut_walks(const prime_modulus& m, walk_kernel kernel, uint64_t steps);
  // Clears what the last table set in the map, if it is not clear yet.
  void clear_presence();
  template <class KeyOf>
  void insert_entries(uint32_t length, KeyOf key_of, bool set_bits);

  const int32_t* k_;
  const int32_t* residue_;
  const int32_t* step_;
  size_t count_;
  uint32_t nmin_;
  engine_callbacks callbacks_;

  uint32_t step_lcm_;
  uint32_t stride_;
  uint32_t table_length_;

  // Per-sequence arrays.
  uint64_t* start_value_ = nullptr;      // k * 2^residue mod p, for active sequences (the form of k before)
  int32_t* class_exponent_ = nullptr;    // (residue + nmin) mod step
  int32_t* group_tag_ = nullptr;         // 0 alone, -1 leader, else residue - leader's residue
  int32_t* group_size_ = nullptr;        // for a leader: members after it
  uint32_t* active_ = nullptr;           // 1 when searched for the current prime
  int64_t* parity_value_ = nullptr;      // -(k mod 3) * k, 0 for a multiple of 3

  // The stride search's blocks.
  uint64_t* table_ = nullptr;            // -2^-(nmin + j*M) mod p, in the product's representation
  uint16_t* chain_ = nullptr;            // previous entry of the same presence block
  uint32_t* presence_ = nullptr;         // presence bits of the last table, cleared as the next one starts
  uint16_t* head_ = nullptr;             // last entry of each presence block, likewise
  bool chained_ = true;                  // the current prime's table has chains and heads
  bool map_dirty_ = false;               // the map holds the last table's bits
  bool heads_dirty_ = false;             // ... and its heads
  double scan_max_hits_ = table_scan_max_hits;

  std::vector<uint64_t> presence_keys_;  // the AVX-512 table build's presence_key of each entry
  std::vector<uint32_t> active_list_;    // the active sequences, in the order they were found
  std::vector<walk_piece> pieces_;       // the current prime's walks for the scalar kernel
  lane_plan plan_;                       // ... and laid out for the others
  std::vector<uint32_t> lane_offsets_;   // each lane's first step into its first walk
  std::vector<uint64_t> lane_bases_;     // the 2^step of each lane that starts inside a walk
  std::vector<uint64_t> lane_exponents_;
  std::vector<uint64_t> lane_powers_;
  walk_kernel kernel_;

  // The current prime's group filter and power-residue tests (sequence_filter.cpp).
  std::vector<uint8_t> group_passes_;     // for leaders: the group may have a solution
  std::vector<uint32_t> passing_;         // the leaders left after the group filter
  std::vector<uint64_t> group_values_;
  std::vector<uint32_t> group_leaders_;
  std::vector<uint8_t> group_results_;
  std::vector<uint64_t> residue_values_;  // -k*2^e of each test, in the batch's form
  std::vector<uint32_t> residue_index_;   // ... and its sequence
  std::vector<uint8_t> residue_results_;
  std::vector<uint64_t> exponents_;  // each value's exponent (p-1)/d
  std::vector<uint64_t> power_results_;
  std::vector<std::pair<uint32_t, uint32_t>> borrowers_;  // (member, leader) sharing a result

  // Set-up of the filters: each leader's table slot (quadratic_characters::none
  // for Euler's criterion), and the distinct steps, which every sequence
  // names by its slot so that its powers are formed once per prime.
  quadratic_characters characters_;
  std::vector<uint32_t> character_slot_;
  std::vector<uint32_t> leaders_;  // the first sequence of every group
  std::vector<uint32_t> step_slot_;
  std::vector<uint32_t> slot_steps_;
  std::vector<uint32_t> walk_length_;  // positions of each sequence's walk over one stride
  struct step_degree {
    uint8_t valuation[order_test_prime_count];  // of the step at each order test prime
    uint64_t stamp;                             // prime count when `degree` was formed
    uint64_t degree;                            // d of the power-residue test for the prime
    divisibility_test multiples;                // by d, when d < 2^31
  };
  std::vector<step_degree> step_degrees_;
  uint32_t least_step_valuation_[order_test_prime_count] = {};  // over all steps
  bool smooth_steps_ = false;  // every step is a product of order test primes
  uint64_t prime_stamp_ = 0;  // advanced as each prime starts: marks what was formed for it
  std::vector<uint8_t> order_lanes_;  // the order test prime of each lane of the first batch
  pow2_table pow2_;  // the current prime's 2^e for every e below the largest step
  uint32_t pow2_bound_ = 1;

  // Per step slot, formed at its first use in a prime's cut_walks (prime_stamp_).
  struct step_powers {
    uint64_t stamp;
    uint64_t multiplier;       // 2^step
    uint64_t lane_multiplier;  // ... in the kernel's lane form
  };
  std::vector<step_powers> step_powers_;
};

}  // namespace veksieve
