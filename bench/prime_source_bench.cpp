// Hands out a million primes from pmin = 10^9, 10^12 and 10^14, with the
// prime source and with primesieve's iterator over the same primes in the
// same run. The counter ns_per_prime is the figure to compare.
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
  for (auto _ : state) {
    state.PauseTiming();
    sieve_start(*source, pmin);
    state.ResumeTiming();
    int64_t sum = 0;
    for (int64_t i = 0; i < primes_per_run; ++i) sum += next_prime(*source);
    benchmark::DoNotOptimize(sum);
  }
  report(state);
}

void primesieve_hand_out(benchmark::State& state) {
  const auto pmin = static_cast<uint64_t>(state.range(0));
  primesieve::iterator it;
  for (auto _ : state) {
    // Its start-up (sieving up to the square root) is left out, as the
    // source's sieve_start is.
    state.PauseTiming();
    it.jump_to(pmin + 1);
    int64_t sum = static_cast<int64_t>(it.next_prime());
    state.ResumeTiming();
    for (int64_t i = 1; i < primes_per_run; ++i) sum += static_cast<int64_t>(it.next_prime());
    benchmark::DoNotOptimize(sum);
  }
  report(state);
}

void ranges(benchmark::internal::Benchmark* b) {
  b->Arg(1000000000)->Arg(1000000000000)->Arg(100000000000000)->Unit(benchmark::kMillisecond);
  b->Repetitions(5)->ReportAggregatesOnly(true)->DisplayAggregatesOnly(true);
}

BENCHMARK(prime_source_hand_out)->Apply(ranges);
BENCHMARK(primesieve_hand_out)->Apply(ranges);

}  // namespace
}  // namespace veksieve

BENCHMARK_MAIN();
