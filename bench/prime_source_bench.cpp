// Hands out a million primes from pmin = 10^12, 10^15, 10^18 and
// 2^62 - 2^30, with the prime source and with primesieve's iterator over the
// same primes in the same run; the counter ns_per_prime is the figure to
// compare. Each is started once and then keeps climbing, so both start-ups
// (sieving up to the square root: seconds at 2^62) are left out.
// prime_source_reposition times what a worker pays per chunk: moving its
// source a chunk forward (skipping another worker's chunk) and handing out
// the first prime there.
#include "primes/prime_source.hpp"

#include <benchmark/benchmark.h>
#include <primesieve.hpp>

#include <cstdint>
#include <memory>

namespace veksieve {
namespace {

constexpr int64_t primes_per_run = 1000000;

void report(benchmark::State& state) {
  state.counters["ns_per_prime"] =
      benchmark::Counter(double(primes_per_run), benchmark::Counter::kIsIterationInvariantRate |
                                                     benchmark::Counter::kInvert);
}

void prime_source_hand_out(benchmark::State& state) {
  const int64_t pmin = state.range(0);
  auto source = std::make_unique<prime_source>(build_prime_tables());
  sieve_start(*source, pmin);
  for (auto _ : state) {
    int64_t sum = 0;
    for (int64_t i = 0; i < primes_per_run; ++i) sum += next_prime(*source);
    benchmark::DoNotOptimize(sum);
  }
  report(state);
}

void primesieve_hand_out(benchmark::State& state) {
  const auto pmin = static_cast<uint64_t>(state.range(0));
  primesieve::iterator it(pmin + 1);
  benchmark::DoNotOptimize(it.next_prime());
  for (auto _ : state) {
    int64_t sum = 0;
    for (int64_t i = 0; i < primes_per_run; ++i) sum += static_cast<int64_t>(it.next_prime());
    benchmark::DoNotOptimize(sum);
  }
  report(state);
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

constexpr int64_t high = (int64_t{1} << 62) - (int64_t{1} << 30);

void ranges(benchmark::internal::Benchmark* b) {
  b->Arg(1000000000000)->Arg(1000000000000000)->Arg(1000000000000000000)->Arg(high);
  b->Unit(benchmark::kMillisecond)->Iterations(10)->Repetitions(5)->ReportAggregatesOnly(true);
}

BENCHMARK(prime_source_hand_out)->Apply(ranges);
BENCHMARK(primesieve_hand_out)->Apply(ranges);
BENCHMARK(prime_source_reposition)
    ->Arg(1000000000000)
    ->Arg(1000000000000000)
    ->Arg(high)
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(20)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

}  // namespace
}  // namespace veksieve

BENCHMARK_MAIN();
