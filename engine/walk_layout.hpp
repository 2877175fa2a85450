// What every walk kernel is handed for one prime: the stride table to look
// values up in, and the active sequences' walks, whole (for a kernel of one
// lane) or laid over the kernel's lanes.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/engine_callbacks.hpp"
#include "engine/presence_map.hpp"

namespace veksieve {

// The first j in [from, length) with table[j] = z, else length.
using find_entry_function = uint32_t (*)(const uint64_t* table, uint32_t from, uint32_t length, uint64_t z);

// What a walk looks up and where it reports, for one prime.
struct stride_view {
  const uint64_t* table;  // values in the product's representation, reduced
  const uint16_t* chain;  // the entry inserted into the same block before this one
  const uint32_t* presence;
  uint32_t block_mask;    // the map's blocks less 1
  const uint16_t* head;   // the entry inserted into each block last; null: no chains, compare the whole table
  find_entry_function find_entry;  // ... by this
  uint32_t length;
  uint32_t nmin;
  uint32_t stride;
  int64_t p;
  const engine_callbacks* callbacks;
  uint64_t* hits;  // counts the searches of the table
};

// One sequence's whole walk: `count` values from `start` at exponent offset
// `t`, each the previous times `multiplier`, t growing by `step`.
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
  std::vector<uint64_t> queue_quotient;  // beside each multiplier, the kernel's constant for it, if it has one
  std::vector<lane_segment> segments;   // lane by lane, each lane's in order of begin (the buffers may be longer)
  std::vector<uint32_t> lane_segments;  // lane l's are [lane_segments[l], lane_segments[l + 1])
};

// The walks of one prime: whole pieces for a kernel of one lane, else the plan.
struct walk_layout {
  std::vector<walk_piece> pieces;
  lane_plan plan;
};

// Reports every table entry equal to z (the presence bits of z are set): a
// match T[j] = k*2^t gives k*2^(nmin + t + j*M) = -1. Out of line: hits are rare.
void report_matches(const stride_view& view, uint64_t z, uint32_t index, uint64_t t);
// The same for value z of `lane` at step i of its run in `plan`, when that
// step lies in one of the lane's segments.
void report_lane(const stride_view& view, const lane_plan& plan, int lane, uint32_t i, uint64_t z);
// The whole-table comparison in plain C++.
uint32_t find_entry(const uint64_t* table, uint32_t from, uint32_t length, uint64_t z);

}  // namespace veksieve
