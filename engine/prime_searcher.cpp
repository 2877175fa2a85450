// The per-prime work, in the order the parts depend on each other.
#include "engine/prime_searcher.hpp"

#include "common/macros.hpp"

namespace veksieve {

prime_searcher::prime_searcher(const sequence_set& sequences, const engine_callbacks& callbacks,
                               const stride_sizing& sizing)
    : callbacks_(callbacks),
      memory_(callbacks),
      groups_(sequences, sizing.stride, memory_),
      filter_(groups_, memory_),
      table_(static_cast<uint32_t>(sequences.nmin), sizing.stride, sizing.table_length, memory_),
      layout_(groups_),
      kernel_(&chosen_kernel()) {
  ASSERT(sizing.ok());
}

void prime_searcher::sieve_prime(int64_t p) {
  ASSERT(p >= 3 && (p & 1) && static_cast<uint64_t>(p) <= product_max_prime);
  const prime_modulus m = make_modulus(static_cast<uint64_t>(p));
  const kernel_backend& kernel = kernel_for(static_cast<uint64_t>(p));
  // Formed once for the filters, the table and the walks.
  const uint64_t lane_factor = kernel.lane_factor != nullptr ? kernel.lane_factor(m) : residue_one(m);
  ++counts_.primes;
  if (!filter_.mark_active(m, kernel, lane_factor)) return;
  uint64_t steps = 0;
  for (const uint32_t i : filter_.active()) steps += groups_.walk_length[i];
  table_.build(m, kernel, lane_factor, steps);
  ++counts_.searched;
  counts_.walks += filter_.active().size();
  counts_.table_entries += table_.length();
  counts_.walk_steps += steps;
  if (callbacks_.report_factor == nullptr) return;
  const walk_layout& walks = layout_.cut_walks(filter_, m, kernel, lane_factor, steps);
  counts_.lane_steps += kernel.lanes > 1 ? uint64_t{walks.plan.run} * static_cast<uint64_t>(kernel.lanes) : steps;
  kernel.walk(table_.view(m, kernel, &callbacks_, &counts_.hits), walks, m);
}

search_counts prime_searcher::counts() const {
  search_counts counts = counts_;
  counts.filter_batches = filter_.batches_raised();
  counts.filter_powers = filter_.powers_raised();
  return counts;
}

}  // namespace veksieve
