// What the operations of the search cost, in nanoseconds: the cost model's
// only measured input. Only their ratios steer its choices. The defaults are
// the fastest kernel's (common/config.hpp); each kernel's row carries its own.
#pragma once

#include "common/config.hpp"

namespace veksieve {

struct search_costs {
  double table_entry = cost_table_entry_ns;              // one entry built, mapped and cleared
  double walk_step = cost_walk_step_ns;                  // one product and probe of a walk
  double searched_sequence = cost_searched_sequence_ns;  // start value and multiplier of a searched sequence
  double residue_test = cost_residue_test_ns;            // one power-residue test
  double group = cost_group_ns;                          // one Jacobi symbol (a group of a k that 3 does not divide)
};

}  // namespace veksieve
