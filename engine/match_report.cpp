// The reporting of matches that every walk kernel shares: a value whose
// presence bits are set is looked up in the table, along its block's chain or
// by comparing the whole table, and every equal entry is a solution.
#include "engine/walk_layout.hpp"

namespace veksieve {

void report_matches(const stride_view& view, uint64_t z, uint32_t index, uint64_t t) {
  // A table without chains is compared whole, in ascending j; else entry 0
  // first, then the chain of z's block, in descending j, which ends at
  // entry 0. The sizing keeps every n below 2^32.
  ++*view.hits;
  const auto report = [&](uint32_t j) {
    const uint32_t n = view.nmin + static_cast<uint32_t>(t) + j * view.stride;
    view.callbacks->report_factor(view.callbacks->context, index, n, view.p);
  };
  if (view.head == nullptr) {
    for (uint32_t j = view.find_entry(view.table, 0, view.length, z); j < view.length;
         j = view.find_entry(view.table, j + 1, view.length, z)) {
      report(j);
    }
    return;
  }
  if (view.table[0] == z) report(0);
  for (uint32_t j = view.head[presence_block(z, view.block_mask)]; j != 0; j = view.chain[j]) {
    if (view.table[j] == z) report(j);
  }
}

void report_lane(const stride_view& view, const lane_plan& plan, int lane, uint32_t i, uint64_t z) {
  const auto l = static_cast<size_t>(lane);
  for (uint32_t s = plan.lane_segments[l]; s < plan.lane_segments[l + 1]; ++s) {
    const lane_segment& segment = plan.segments[s];
    if (i - segment.begin < segment.count) {  // i < begin wraps
      report_matches(view, z, segment.index, segment.t + uint64_t{i - segment.begin} * segment.step);
      return;
    }
  }
  ++*view.hits;  // a step of the padding
}

uint32_t find_entry(const uint64_t* table, uint32_t from, uint32_t length, uint64_t z) {
  uint32_t j = from;
  while (j < length && table[j] != z) ++j;
  return j;
}

}  // namespace veksieve
