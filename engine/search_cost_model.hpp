// The cost model of the search: what one prime costs on average, from the
// table length, the walks of the sequences expected to survive the filters,
// and per-operation costs measured once (common/config.hpp). It picks the
// stride when the user gives no alpha, and tells whether splitting a k into
// residue classes pays.
#pragma once

#include <cstdint>

#include <map>
#include <tuple>

#include "common/config.hpp"
#include "engine/sequence_set.hpp"

namespace veksieve {

// Nanoseconds per operation; only their ratios steer the choices.
struct search_costs {
  double table_entry = cost_table_entry_ns;          // one entry built, mapped and cleared
  double walk_step = cost_walk_step_ns;              // one product and probe of a walk
  double searched_sequence = cost_searched_sequence_ns;  // start value and multiplier of a searched sequence
  double residue_test = cost_residue_test_ns;        // one power-residue test
  double group = cost_group_ns;                      // one Jacobi symbol (a group of a k that 3 does not divide)
};

// The share of primes for which a sequence of this k and step is tested for
// a power residue, and the share for which it is searched (walked). Primes
// are taken as equally spread over the residues prime to the step.
struct filter_odds {
  double tested = 0;
  double searched = 0;
};
// `tag` is the residue's distance to its group leader's (0 for a leader).
filter_odds sequence_filter_odds(int64_t k, int64_t step, int64_t tag = 0);

// Expected operations per prime for a stride and table length.
struct expected_work {
  double table_entries = 0;
  double walk_steps = 0;
  double searched_sequences = 0;
  double residue_tests = 0;
  double groups = 0;

  double cost(const search_costs& c) const {
    return c.table_entry * table_entries + c.walk_step * walk_steps + c.searched_sequence * searched_sequences +
           c.residue_test * residue_tests + c.group * groups;
  }
};
// The model over one set of costs. It keeps the filter odds of each kind of
// sequence it has met: the class split asks for the same few thousand again
// and again.
class search_cost_model {
 public:
  explicit search_cost_model(const search_costs& costs = {}) : costs_(costs) {}

  // Expected operations per prime for a stride and table length.
  expected_work expected_work_of(const sequence_set& sequences, uint64_t stride, uint64_t table_length);
  // ... and their cost.
  double cost(const sequence_set& sequences, uint64_t stride, uint64_t table_length) {
    return expected_work_of(sequences, stride, table_length).cost(costs_);
  }
  // The stride of least modelled cost: a multiple of every step, long enough
  // for the table's 16-bit indices; the default alpha's stride unless that
  // is model_least_gain cheaper. 0 when the sequences cannot be sized.
  uint32_t modelled_stride(const sequence_set& sequences);
  // An alpha for which plan_stride_search (engine/stride_sizing.hpp) gives
  // the modelled stride; default_alpha when the sequences cannot be sized,
  // so that the sizing's refusal stays the one reported.
  double modelled_alpha(const sequence_set& sequences);

 private:
  search_costs costs_;
  std::map<std::tuple<bool, int32_t, int32_t>, filter_odds> known_;  // by (3 divides k, step, tag)
};

}  // namespace veksieve
