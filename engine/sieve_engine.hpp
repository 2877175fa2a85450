// The sieve engine's contract: walk the primes above pmin, find every n at
// which a prime divides k*2^n+1 for one of the sequences, hand each to the
// factor callback, and return the first prime above pmax.
#pragma once

#include <cstdint>
#include <memory>

#include "engine/engine_callbacks.hpp"
#include "engine/search_counts.hpp"
#include "engine/sequence_set.hpp"

namespace veksieve {

struct stride_sizing;
class prime_searcher;
struct prime_source;
struct prime_tables;
struct large_prime_windows;

// An engine kept for successive ranges of primes: its state and prime source
// are set up once and the source is placed anew for each range, so a worker
// thread that sieves chunk after chunk pays the set-up once.
class range_engine {
 public:
  // `sizing` must be ok(). Engines of one run share `tables` (built here when
  // not given) and the windows of the large sieving primes (the engine's own
  // when not given). Throws std::bad_alloc when memory runs out.
  range_engine(const sequence_set& sequences, const engine_callbacks& callbacks, const stride_sizing& sizing,
               std::shared_ptr<const prime_tables> tables = nullptr,
               std::shared_ptr<large_prime_windows> windows = nullptr);
  ~range_engine();
  range_engine(const range_engine&) = delete;
  range_engine& operator=(const range_engine&) = delete;

  // Sieves the primes above pmin up to min(pmax, the engine's limit) and
  // returns the first prime above that, or the first prime not sieved when
  // a stop was requested. Progress is reported each time bit 18 of the prime
  // differs from that of the prime before it; `before_first` stands for the
  // prime before the first one (pmin itself when a run starts at pmin).
  int64_t sieve(int64_t pmin, int64_t pmax, int64_t before_first);

  // What the search did over every range so far.
  search_counts counts() const;

 private:
  std::unique_ptr<prime_searcher> searcher_;
  std::unique_ptr<prime_source> primes_;
  engine_callbacks callbacks_;
};

// Returns the first prime above min(pmax, engine_pmax_limit) that the prime source
// yields, or, when a stop was requested, the first prime not sieved.
// Before sieving it sizes the search with plan_stride_search
// (engine/stride_sizing.hpp), which a caller should run first to refuse a job
// with its reason. The engine throws std::invalid_argument with that reason
// when the sizing refuses, and std::bad_alloc when the allocation callback
// returns null; it calls no other callback in either case.
int64_t sieve_engine(int64_t pmin, int64_t pmax, const sequence_set& sequences,
                     const engine_callbacks& callbacks, double alpha);

}  // namespace veksieve
