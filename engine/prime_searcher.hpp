// The whole work for one prime: the filters leave the sequences that can
// have a solution, the stride table is built, their walks are laid out and
// the kernel walks them, reporting every solution through the factor
// callback. Nothing is static, so searchers on several threads do not meet.
#pragma once

#include <cstdint>

#include "engine/engine_callbacks.hpp"
#include "engine/engine_memory.hpp"
#include "engine/kernels/kernel_backend.hpp"
#include "engine/lane_layout.hpp"
#include "engine/sequence_filter.hpp"
#include "engine/search_counts.hpp"
#include "engine/sequence_groups.hpp"
#include "engine/sequence_set.hpp"
#include "engine/stride_sizing.hpp"
#include "engine/stride_table.hpp"

namespace veksieve {

class prime_searcher {
 public:
  // Obtains every block through the allocation callback (a null callback
  // means calloc/free); `sizing` must be ok(). Throws std::bad_alloc, after
  // giving back what it got, when the callback returns null.
  prime_searcher(const sequence_set& sequences, const engine_callbacks& callbacks, const stride_sizing& sizing);

  // Searches the odd prime p below 2^62.
  void sieve_prime(int64_t p);

  // The kernel, by default chosen_kernel(); tests pin each in turn. A prime
  // above its max_prime is walked by the fallback kernel.
  void pin_kernel(const kernel_backend& kernel) { kernel_ = &kernel; }
  const kernel_backend& kernel_for(uint64_t p) const {
    return p <= kernel_->max_prime ? *kernel_ : fallback_kernel();
  }

  // What the search did so far.
  search_counts counts() const;

  // The stride table, for tests of its map.
  stride_table& table() { return table_; }

 private:
  engine_callbacks callbacks_;
  engine_memory memory_;  // first, so that it gives back all the others' blocks last
  sequence_groups groups_;
  sequence_filter filter_;
  stride_table table_;
  lane_layout layout_;
  const kernel_backend* kernel_;
  search_counts counts_;
};

}  // namespace veksieve
