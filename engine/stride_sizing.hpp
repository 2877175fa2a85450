// Sizing of the baby-step/giant-step search from the exponent window, the
// steps and alpha: the stride M (a multiple of every step) and the length of
// the stride table. A pure function, so that a run can refuse before sieving.
#pragma once

#include <cstdint>
#include <string>

#include "engine/sequence_set.hpp"

namespace veksieve {

struct stride_sizing {
  uint32_t window = 0;        // R = nmax + 1 - nmin
  uint64_t root = 0;          // r0 = floor(sqrt(2 * alpha * R))
  uint64_t step_lcm = 0;      // L, the least common multiple of the steps
  uint32_t stride = 0;        // M: the smallest multiple of L that is >= r0, >= 1 and short enough for the table
  uint32_t table_length = 0;  // R div M + 1, at most max_table_length
  std::string refusal;        // why the sequences cannot be sieved; empty when they can

  bool ok() const { return refusal.empty(); }
};

// Checks everything the engine relies on in `sequences` and `alpha` and sizes
// the search. M grows beyond r0 when that keeps the table within its 16-bit
// entry indices; only a job whose exponents could not all be formed in 32
// bits, or whose input is malformed, is refused.
stride_sizing plan_stride_search(const sequence_set& sequences, double alpha);

// floor(sqrt(2 * alpha * window)): the product rounded down in extended
// precision, the root rounded to nearest, then truncated. Independent of
// the caller's floating-point mode. Needs 0 < 2 * alpha * window < 2^62.
uint64_t stride_root(uint32_t window, double alpha);

}  // namespace veksieve
