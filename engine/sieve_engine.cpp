// The prime loop: an engine owns its prime searcher and its prime source
// (over tables that the engines of a run share), draws the primes above pmin, reports progress as bit 18 of the prime changes, and
// sieves each prime until one lies above the pmax limit.
#include "engine/sieve_engine.hpp"

#include <algorithm>
#include <stdexcept>

#include "common/config.hpp"
#include "engine/prime_searcher.hpp"
#include "engine/stride_sizing.hpp"
#include "primes/prime_source.hpp"

namespace veksieve {

range_engine::range_engine(const sequence_set& sequences, const engine_callbacks& callbacks,
                           const stride_sizing& sizing, std::shared_ptr<const prime_tables> tables,
                           std::shared_ptr<large_prime_windows> windows)
    : searcher_(std::make_unique<prime_searcher>(sequences, callbacks, sizing)),
      primes_(std::make_unique<prime_source>(tables ? std::move(tables) : build_prime_tables(), std::move(windows))),
      callbacks_(callbacks) {}

range_engine::~range_engine() = default;

int64_t range_engine::sieve(int64_t pmin, int64_t pmax, int64_t before_first) {
  pmin = std::max<int64_t>(pmin, 0);
  sieve_start(*primes_, pmin);
  const int64_t limit = std::min(pmax, engine_pmax_limit);
  int64_t progress_reference = before_first & progress_bit;
  for (;;) {
    const int64_t p = next_prime(*primes_);
    if (callbacks_.stop_requested != nullptr && callbacks_.stop_requested->load(std::memory_order_relaxed)) {
      return p;
    }
    if (p > limit) return p;
    if ((p & progress_bit) != progress_reference) {
      progress_reference = p & progress_bit;
      if (callbacks_.report_progress != nullptr) callbacks_.report_progress(callbacks_.context, p);
    }
    if (LIKELY(p >= 3)) searcher_->sieve_prime(p);  // 2 divides no k*2^n+1 with n >= 1
  }
}

search_counts range_engine::counts() const { return searcher_->counts(); }

int64_t sieve_engine(int64_t pmin, int64_t pmax, const sequence_set& sequences, const engine_callbacks& callbacks,
                     double alpha) {
  const stride_sizing sizing = plan_stride_search(sequences, alpha);
  if (!sizing.ok()) throw std::invalid_argument(sizing.refusal);
  // Windows that end with the range: a short range pays for no more.
  range_engine engine(sequences, callbacks, sizing, nullptr,
                      std::make_shared<large_prime_windows>(1, pmin, std::min(pmax, engine_pmax_limit)));
  return engine.sieve(pmin, pmax, pmin);
}

}  // namespace veksieve
