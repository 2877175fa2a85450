// What the filters know of the sequences before the first prime: the groups
// of adjacent sequences of one k, each group's parity value and quadratic
// character table, and the distinct steps, which every sequence names by its
// slot so that their powers are formed once per prime. Built once per engine.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "common/config.hpp"
#include "engine/engine_memory.hpp"
#include "engine/quadratic_character.hpp"
#include "engine/sequence_set.hpp"

namespace veksieve {

struct sequence_groups {
  // The per-sequence arrays come from the engine's memory. `stride` sets the
  // walk lengths.
  sequence_groups(const sequence_set& sequences, uint32_t stride, engine_memory& memory);

  size_t count;
  const int32_t* k;
  const int32_t* residue;
  const int32_t* step;
  int32_t* class_exponent;  // (residue + nmin) mod step
  int32_t* group_tag;       // 0 alone, -1 leader, else residue - leader's residue
  int32_t* group_size;      // for a leader: members after it
  int64_t* parity_value;    // what must be a square: -k or -2k (the +1 form), k or 2k (-1); 0 for a multiple of 3

  std::vector<uint8_t> negated;          // 1 for the -1 form, searched as -k
  std::vector<uint32_t> leaders;         // the first sequence of every group
  quadratic_characters characters;
  std::vector<uint32_t> character_slot;  // each leader's table, or quadratic_characters::none for Euler's criterion
  std::vector<uint32_t> walk_length;     // steps of each sequence's walk over one stride

  // The distinct steps, ascending, and each sequence's slot among them.
  std::vector<uint32_t> slot_steps;
  std::vector<uint32_t> step_slot;
  // The valuation of each slot's step at each order test prime, the least
  // over all steps, and whether every step is a product of those primes.
  std::vector<std::array<uint8_t, order_test_prime_count>> step_valuation;
  uint32_t least_step_valuation[order_test_prime_count] = {};
  bool smooth_steps = true;
  uint32_t step_lcm = 1;
  uint32_t pow2_bound = 1;  // every 2^e the set-up forms has e below it (at most pow2_table_bound)

 private:
  void build_groups(int32_t nmin, std::span<const int8_t> c);
  void build_steps(uint32_t stride);
};

}  // namespace veksieve
