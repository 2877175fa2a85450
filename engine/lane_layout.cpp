// Cutting the walks. Each active sequence walks t = residue, residue + step,
// ... below M: its values k*2^t, each the last times 2^step.
#include "engine/lane_layout.hpp"

#include <algorithm>

#include "common/config.hpp"
#include "engine/power_residue.hpp"

namespace veksieve {

const walk_layout& lane_layout::cut_walks(const sequence_filter& filter, const prime_modulus& m,
                                          const kernel_backend& kernel, uint64_t lane_factor, uint64_t steps) {
  ++prime_stamp_;
  form_step_powers(filter, m, kernel, lane_factor);
  if (kernel.lanes == 1) {
    walks_.pieces.clear();
    for (const uint32_t i : filter.active()) {
      walks_.pieces.push_back({filter.start_value(i), step_powers_[groups_.step_slot[i]].multiplier,
                               static_cast<uint32_t>(groups_.residue[i]), static_cast<uint32_t>(groups_.step[i]),
                               groups_.walk_length[i], i});
    }
    return walks_;
  }
  lay_over_lanes(filter, static_cast<uint32_t>(kernel.lanes), steps);
  raise_lane_starts(m, kernel);
  return walks_;
}

void lane_layout::form_step_powers(const sequence_filter& filter, const prime_modulus& m, const kernel_backend& kernel,
                                   uint64_t lane_factor) {
  for (const uint32_t i : filter.active()) {
    step_powers& powers = step_powers_[groups_.step_slot[i]];
    if (powers.stamp != prime_stamp_) {
      const uint64_t multiplier = filter.pow2(static_cast<uint32_t>(groups_.step[i]), m);
      const uint64_t lane_multiplier = mulmod_full(multiplier, lane_factor, m);
      const uint64_t quotient =
          kernel.multiplier_quotient != nullptr ? kernel.multiplier_quotient(lane_multiplier, m) : 0;
      powers = {prime_stamp_, multiplier, lane_multiplier, quotient};
    }
  }
}

// The walks end to end, one run per lane, each walk padded to whole blocks;
// the run is a whole number of blocks too, so that the padded walks fill the
// lanes without a gap.
void lane_layout::lay_over_lanes(const sequence_filter& filter, uint32_t lanes, uint64_t steps) {
  constexpr uint32_t block = walk_switch_block;
  const std::span<const uint32_t> active = filter.active();
  uint64_t padded = steps;
  for (const uint32_t i : active) padded += (block - groups_.walk_length[i] % block) % block;
  const uint64_t blocks = (padded + uint64_t{lanes} * block - 1) / (uint64_t{lanes} * block);
  ASSERT(blocks * block < UINT32_MAX);  // the sizing keeps the walks far shorter
  lane_plan& plan = walks_.plan;
  const auto run = static_cast<uint32_t>(blocks * block);
  plan.run = run;
  // The buffers only grow, so that a prime sizes nothing; slots that no
  // lane switches into are never read.
  const auto at_least = [](auto& buffer, size_t size) {
    if (buffer.size() < size) buffer.resize(size);
  };
  at_least(plan.switches, blocks);
  at_least(plan.queue_start, blocks * lanes);
  at_least(plan.queue_multiplier, blocks * lanes);
  at_least(plan.queue_quotient, blocks * lanes);
  at_least(plan.segments, active.size() + lanes);  // each lane's first may split a walk
  at_least(plan.lane_segments, lanes + 1);
  at_least(lane_offsets_, lanes);
  uint64_t* const switches = plan.switches.data();
  uint64_t* const queue_start = plan.queue_start.data();
  uint64_t* const queue_multiplier = plan.queue_multiplier.data();
  uint64_t* const queue_quotient = plan.queue_quotient.data();
  lane_segment* const segment = plan.segments.data();
  uint32_t* const lane_segments = plan.lane_segments.data();
  uint32_t* const offsets = lane_offsets_.data();
  std::fill_n(switches, blocks, 0);
  std::fill_n(offsets, lanes, 0);
  lane_segments[0] = 0;
  // Free of branches but the loops'. A lane's run starts at any offset into
  // a walk and takes its first value from block 0's slot; a later walk
  // starts at offset 0 where a block starts. A lane's last segment, or the
  // next one, sets where the lane's segments end.
  uint32_t lane = 0, filled = 0, segments = 0;
  for (const uint32_t i : active) {
    const step_powers& powers = step_powers_[groups_.step_slot[i]];
    const auto step = static_cast<uint32_t>(groups_.step[i]);
    const uint64_t start = filter.start_value(i);
    uint64_t t = static_cast<uint32_t>(groups_.residue[i]);
    for (uint32_t offset = 0, left = groups_.walk_length[i]; left != 0;) {
      ASSERT(lane < lanes);
      const uint32_t b = filled / block;
      const size_t slot = size_t{b} * lanes + lane;
      switches[b] |= uint64_t{1} << lane;
      queue_start[slot] = start;
      queue_multiplier[slot] = powers.lane_multiplier;
      queue_quotient[slot] = powers.quotient;
      offsets[lane] |= offset;
      const uint32_t count = std::min(left, run - filled);
      segment[segments++] = {t, step, i, filled, count};
      offset += count;
      left -= count;
      t += uint64_t{count} * step;
      filled += (count + block - 1) / block * block;
      lane_segments[lane + 1] = segments;
      const uint32_t full = filled == run;  // by masks: a branch would guess wrong
      lane += full;
      filled &= full - 1;
    }
  }
  for (uint32_t l = lane + 1; l <= lanes; ++l) lane_segments[l] = segments;
  for (uint32_t l = filled == 0 ? lane : lane + 1; l < lanes; ++l) {
    queue_start[l] = 0;  // idle
    queue_multiplier[l] = 0;
    queue_quotient[l] = 0;
  }
}

// A run that starts inside a walk starts from k*2^t times 2^(step*offset).
void lane_layout::raise_lane_starts(const prime_modulus& m, const kernel_backend& kernel) {
  lane_plan& plan = walks_.plan;
  const auto lanes = static_cast<uint32_t>(kernel.lanes);
  uint64_t* const queue_start = plan.queue_start.data();
  const uint32_t* const offsets = lane_offsets_.data();
  if (kernel.raise_starts != nullptr) {
    kernel.raise_starts(queue_start, plan.queue_multiplier.data(), offsets, m);
    return;
  }
  // The portable way raises the walks' own multipliers: a lane that starts
  // inside a walk has it as its first segment.
  lane_bases_.resize(lanes);
  lane_exponents_.resize(lanes);
  lane_powers_.resize(lanes);
  size_t raised = 0;
  for (uint32_t l = 0; l < lanes; ++l) {
    if (offsets[l] == 0) continue;
    const uint32_t walk = plan.segments[plan.lane_segments[l]].index;
    lane_bases_[raised] = step_powers_[groups_.step_slot[walk]].multiplier;
    lane_exponents_[raised++] = offsets[l];
  }
  power_batch(lane_bases_.data(), lane_exponents_.data(), raised, m, lane_powers_.data());
  raised = 0;
  for (uint32_t l = 0; l < lanes; ++l) {
    if (offsets[l] != 0) queue_start[l] = mulmod_full(queue_start[l], lane_powers_[raised++], m);
  }
}

}  // namespace veksieve
