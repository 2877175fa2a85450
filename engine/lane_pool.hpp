// The loop every multi-chain walk kernel shares: all lanes step together
// through one run of a lane_plan, in blocks of walk_switch_block steps; where
// a block starts, the lanes whose walk has ended take their next one, so the
// loop never stops to refill. `Lanes` holds the values and multipliers in the
// kernel's own format and supplies begin() (every lane from two arrays),
// take() (the lanes of a bit mask from the block's slots in the queues),
// probe() (a bit per lane whose presence bits are
// set), value() and advance(). The template is static and calls no library
// template, so that each kernel's translation unit, built for its own
// instruction set, keeps its own copy and shares none with the others.
#pragma once

#include <cstdint>

#include "common/config.hpp"
#include "common/macros.hpp"
#include "engine/walk_layout.hpp"

namespace veksieve {

// begin() and take() for lanes kept in memory between runs of steps (set,
// load, store).
template <class Lanes>
static void begin_through_memory(Lanes& lanes, const uint64_t* start, const uint64_t* multiplier) {
  for (int l = 0; l < Lanes::width; ++l) lanes.set(l, start[l], multiplier[l]);
  lanes.load();
}

template <class Lanes>
static void take_through_memory(Lanes& lanes, uint64_t mask, const uint64_t* start, const uint64_t* multiplier) {
  lanes.store();
  for (; mask != 0; mask &= mask - 1) {
    const int l = __builtin_ctzll(mask);
    lanes.set(l, start[l], multiplier[l]);
  }
  lanes.load();
}

template <class Lanes>
static void run_lanes(const stride_view& view, const lane_plan& plan, Lanes& lanes) {
  static_assert(Lanes::width <= 64, "a bit per lane");
  constexpr uint32_t block = walk_switch_block;
  lanes.begin(plan.queue_start.data(), plan.queue_multiplier.data());
  const auto step = [&](uint32_t i) {
    for (uint64_t hits = lanes.probe(view.presence, view.block_mask); UNLIKELY(hits != 0); hits &= hits - 1) {
      const int l = __builtin_ctzll(hits);
      report_lane(view, plan, l, i, lanes.value(l));
    }
    lanes.advance();
  };
  const uint32_t run = plan.run;
  const uint64_t* switches = plan.switches.data();
  for (uint32_t i = 0, b = 0; i < run; i += block, ++b) {
    if (b != 0) {
      const size_t queue = size_t{b} * Lanes::width;
      lanes.take(switches[b], plan.queue_start.data() + queue, plan.queue_multiplier.data() + queue);
    }
    for (uint32_t j = 0; j < block; ++j) step(i + j);
  }
}

}  // namespace veksieve
