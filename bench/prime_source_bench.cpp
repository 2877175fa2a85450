// Hands out the primes of successive stretches of 4800 * 2^18 integers (one
// window of the large primes, 1.26e9 integers) from pmin = 10^12, 10^15,
// 10^18 and 2^62 - 2^30, with the prime source and with primesieve's
// iterator over the same primes in the same run; the counter ns_per_prime is
// the figure to compare. Each is started once and then keeps climbing, so
// both start-ups (sieving up to the square root: seconds at 2^62) are left
// out, while every stretch from 2^50 on includes the building of one window.
// prime_source_reposition times what a worker pays per chunk: moving its
// source a chunk forward (skipping another worker's chunk) and handing out
// the first prime there; prime_source_start, a fresh source's first start.
#include "common/config.hpp"
#include "primes/prime_source.hpp"

#include <benchmark/benchmark.h>
#include <primesieve.hpp>

#include <cstdint>
#include <memory>

namespace veksieve {
namespace {

constexpr int64_t stretch = int64_t{window_segments} * segment_span;

void report(benchmark::State& state, int64_t primes) {
  state.counters["ns_per_prime"] =
      benchmark::Counter(double(primes), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void prime_source_hand_out(benchmark::State& state) {
  int64_t stop = state.range(0);
  auto source = std::make_unique<prime_source>(build_prime_tables());
  sieve_start(*source, stop);
  int64_t primes = 0;
  for (auto _ : state) {
    stop += stretch;
    int64_t sum = 0;
    for (; peek_prime(*source) <= stop; ++primes) sum += next_prime(*source);
    benchmark::DoNotOptimize(sum);
  }
  report(state, primes);
}

void primesieve_hand_out(benchmark::State& state) {
  int64_t stop = state.range(0);
  primesieve::iterator it(static_cast<uint64_t>(stop) + 1);
  auto p = static_cast<int64_t>(it.next_prime());
  int64_t primes = 0;
  for (auto _ : state) {
    stop += stretch;
    int64_t sum = 0;
    for (; p <= stop; ++primes, p = static_cast<int64_t>(it.next_prime())) sum += p;
    benchmark::DoNotOptimize(sum);
  }
  report(state, primes);
}

// Each iteration moves the source on by one chunk of 10^8 and takes the
// first prime there: the cost of a reposition beside a second's worth of
// primes (a chunk at these heights is wider than that).
void prime_source_reposition(benchmark::State& state) {
  const int64_t chunk = 100000000;
  auto source = std::make_unique<prime_source>(build_prime_tables());
  int64_t pmin = state.range(0);
  sieve_start(*source, pmin);
  for (auto _ : state) {
    pmin += chunk;
    sieve_start(*source, pmin);
    benchmark::DoNotOptimize(next_prime(*source));
  }
}

// A fresh source's first start at pmin, the tables built beforehand.
void prime_source_start(benchmark::State& state) {
  const auto tables = build_prime_tables();
  for (auto _ : state) {
    prime_source source(tables);
    sieve_start(source, state.range(0));
    benchmark::DoNotOptimize(next_prime(source));
  }
}

constexpr int64_t high = (int64_t{1} << 62) - (int64_t{1} << 30);

void ranges(benchmark::internal::Benchmark* b) {
  b->Arg(1000000000000)->Arg(1000000000000000)->Arg(1000000000000000000)->Arg(high);
  b->Unit(benchmark::kMillisecond)->Iterations(2)->Repetitions(3)->ReportAggregatesOnly(true);
}

BENCHMARK(prime_source_hand_out)->Apply(ranges);
BENCHMARK(primesieve_hand_out)->Apply(ranges);
// 20 moves of 10^8 cross two or three windows above 2^50: the mean includes
// their building, shared out over the moves.
BENCHMARK(prime_source_reposition)
    ->Arg(1000000000000)
    ->Arg(1000000000000000)
    ->Arg(1000000000000000000)
    ->Arg(high)
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(20)
    ->Repetitions(1);
BENCHMARK(prime_source_start)
    ->Arg(1000000000000)
    ->Arg(1000000000000000)
    ->Arg(1000000000000000000)
    ->Arg(high)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(1);

}  // namespace
}  // namespace veksieve

BENCHMARK_MAIN();
