// The filters' set-up: groups, parity values, character tables and steps.
#include "engine/sequence_groups.hpp"

#include <algorithm>

#include "engine/binary_gcd.hpp"

namespace veksieve {

sequence_groups::sequence_groups(const sequence_set& sequences, uint32_t stride, engine_memory& memory)
    : count(sequences.k.size()),
      k(sequences.k.data()),
      residue(sequences.residue.data()),
      step(sequences.step.data()),
      class_exponent(memory.take<int32_t>(count)),
      group_tag(memory.take<int32_t>(count)),
      group_size(memory.take<int32_t>(count)),
      parity_value(memory.take<int64_t>(count)),
      negated(count) {
  build_groups(sequences.nmin, sequences.c);
  build_steps(stride);
}

void sequence_groups::build_groups(int32_t nmin, std::span<const int8_t> c) {
  // A sequence that breaks a run starts a group of its own, so that a
  // member's tag is always positive and its step always the leader's.
  const sequence_set s{nmin, nmin, {k, count}, {residue, count}, {step, count}, c};
  size_t leader = 0;
  for (size_t i = 0; i < count; ++i) {
    negated[i] = s.c_of(i) < 0;
    class_exponent[i] = static_cast<int32_t>((int64_t{residue[i]} + nmin) % step[i]);
    if (!joins_group(s, i, leader)) {
      if (i > 0) group_size[leader] = static_cast<int32_t>(i - leader - 1);
      group_tag[i] = 0;
      leader = i;
    } else {
      group_tag[leader] = -1;
      group_tag[i] = residue[i] - residue[leader];
    }
    // -k when k = 1 (mod 3), -2k when k = 2 (mod 3): the value that must be
    // a square for a candidate n of that k's parity. For k*2^n-1 the
    // candidates have the other parity and k*2^n = 1: 2k for k = 1 (mod 3),
    // k for k = 2 (mod 3). 0 marks a multiple of 3.
    const int64_t k_mod_3 = int64_t{k[i]} % 3;
    parity_value[i] = negated[i] ? (k_mod_3 == 0 ? 0 : (3 - k_mod_3) * k[i]) : -k_mod_3 * k[i];
  }
  group_size[leader] = static_cast<int32_t>(count - leader - 1);

  character_slot.assign(count, quadratic_characters::none);
  for (size_t i = 0; i < count; ++i) {
    if (group_tag[i] > 0) continue;
    leaders.push_back(static_cast<uint32_t>(i));
    // A k that 3 divides needs no character.
    if (parity_value[i] != 0 && k[i] > 0) character_slot[i] = characters.add(static_cast<uint32_t>(k[i]));
  }
}

void sequence_groups::build_steps(uint32_t stride) {
  slot_steps.assign(step, step + count);
  std::sort(slot_steps.begin(), slot_steps.end());
  slot_steps.erase(std::unique(slot_steps.begin(), slot_steps.end()), slot_steps.end());
  step_slot.resize(count);
  walk_length.resize(count);
  for (size_t i = 0; i < count; ++i) {
    walk_length[i] = veksieve::walk_length(stride, residue[i], step[i]);
    const auto slot = std::lower_bound(slot_steps.begin(), slot_steps.end(), static_cast<uint32_t>(step[i]));
    step_slot[i] = static_cast<uint32_t>(slot - slot_steps.begin());
  }
  step_valuation.assign(slot_steps.size(), {});
  for (size_t slot = 0; slot < slot_steps.size(); ++slot) {
    uint32_t rest = slot_steps[slot];
    step_lcm = step_lcm / static_cast<uint32_t>(binary_gcd(step_lcm, rest)) * rest;  // divides the stride
    for (uint32_t t = 0; t < order_test_prime_count; ++t) {
      uint8_t v = 0;
      for (; rest % order_test_primes[t] == 0; rest /= order_test_primes[t]) ++v;
      step_valuation[slot][t] = v;
      least_step_valuation[t] = slot == 0 ? v : std::min<uint32_t>(least_step_valuation[t], v);
    }
    smooth_steps = smooth_steps && rest == 1;
  }
  // Residues and class exponents lie below their step.
  const uint32_t largest_step = slot_steps.empty() ? 1 : slot_steps.back();
  pow2_bound = std::min(largest_step + 1, pow2_table_bound);
}

}  // namespace veksieve
