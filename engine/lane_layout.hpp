// The active walks of one prime laid out for a kernel: whole, for a kernel of
// one lane, or end to end over its lanes in runs of equal length (lane_plan),
// each lane's first value raised to its offset into its walk. The step
// multipliers are formed once per distinct step and prime.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/kernels/kernel_backend.hpp"
#include "engine/sequence_filter.hpp"
#include "engine/sequence_groups.hpp"

namespace veksieve {

class lane_layout {
 public:
  explicit lane_layout(const sequence_groups& groups) : groups_(groups), step_powers_(groups.slot_steps.size()) {}

  // The walks of the sequences `filter` left active for prime m, their
  // multipliers times `lane_factor` (the kernel's, for m); `steps` is the sum
  // of their lengths.
  const walk_layout& cut_walks(const sequence_filter& filter, const prime_modulus& m, const kernel_backend& kernel,
                               uint64_t lane_factor, uint64_t steps);

 private:
  void form_step_powers(const sequence_filter& filter, const prime_modulus& m, const kernel_backend& kernel,
                        uint64_t lane_factor);
  void lay_over_lanes(const sequence_filter& filter, uint32_t lanes, uint64_t steps);
  void raise_lane_starts(const prime_modulus& m, const kernel_backend& kernel);

  const sequence_groups& groups_;
  walk_layout walks_;
  std::vector<uint32_t> lane_offsets_;   // each lane's first step into its first walk
  std::vector<uint64_t> lane_bases_;     // the 2^step of each lane that starts inside a walk
  std::vector<uint64_t> lane_exponents_;
  std::vector<uint64_t> lane_powers_;
  uint64_t prime_stamp_ = 0;  // advanced with each prime: marks the step powers formed for it

  struct step_powers {
    uint64_t stamp;
    uint64_t multiplier;       // 2^step
    uint64_t lane_multiplier;  // ... in the kernel's lane form
    uint64_t quotient;         // the kernel's constant for it, or 0
  };
  std::vector<step_powers> step_powers_;  // per step slot
};

}  // namespace veksieve
