// The sieve engine's contract: walk the primes above pmin, find every n at
// which a prime divides k*2^n+1 for one of the sequences, hand each to the
// factor callback, and return the first prime above pmax.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>

namespace veksieve {

// The engine's view of its caller. Every callback gets `context` back, so
// that several engines can run side by side, each with its own reporter.
struct engine_callbacks {
  void* context = nullptr;
  // A solution: k[index]*2^n == -1 (mod p). n may lie above nmax and need
  // not be a remaining candidate; the callback filters.
  void (*report_factor)(void* context, uint32_t index, uint32_t n, int64_t p) = nullptr;
  // Zero-filled storage of `size` bytes, and its release.
  void* (*allocate)(void* context, uint32_t size) = nullptr;
  void (*release)(void* context, void* block) = nullptr;
  // The prime about to be sieved, each time its bit 18 changes.
  void (*report_progress)(void* context, int64_t p) = nullptr;
  // When set, the engine stops before the next prime it would examine and
  // returns that prime (not sieved; every prime below it was).
  const std::atomic<bool>* stop_requested = nullptr;
};

struct sequence_set {
  int32_t nmin = 0;
  int32_t nmax = 0;
  std::span<const int32_t> k;
  std::span<const int32_t> residue;
  std::span<const int32_t> step;
};

struct stride_sizing;
class engine_state;
struct prime_source;
struct prime_tables;

// An engine kept for successive ranges of primes: its state and prime source
// are set up once and the source is placed anew for each range, so a worker
// thread that sieves chunk after chunk pays the set-up once.
class range_engine {
 public:
  // `sizing` must be ok(). Engines of one run share `tables` (built here when
  // not given). Throws std::bad_alloc when memory runs out.
  range_engine(const sequence_set& sequences, const engine_callbacks& callbacks, const stride_sizing& sizing,
               std::shared_ptr<const prime_tables> tables = nullptr);
  ~range_engine();
  range_engine(const range_engine&) = delete;
  range_engine& operator=(const range_engine&) = delete;

  // Sieves the primes above pmin up to min(pmax, the engine's limit) and
  // returns the first prime above that, or the first prime not sieved when
  // a stop was requested. Progress is reported each time bit 18 of the prime
  // differs from that of the prime before it; `before_first` stands for the
  // prime before the first one (pmin itself when a run starts at pmin).
  int64_t sieve(int64_t pmin, int64_t pmax, int64_t before_first);

 private:
  std::unique_ptr<engine_state> state_;
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
