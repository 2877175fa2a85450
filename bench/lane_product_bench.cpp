// Nanoseconds per product of the AVX-512 IFMA lanes (the Montgomery products
// of one word below 2^52 and of two words to 2^62, and the product by a
// fixed multiplier with its quotient formed once, to 2^62) beside the engine's scalar Montgomery product, as the walk
// uses them: one vector's dependent chain (latency), four vectors as the
// walk's 32 lanes, and eight. Divide by the clock's nanoseconds for cycles.
// Skipped on a CPU without IFMA.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <type_traits>

#include "engine/kernels/ifma_product.hpp"
#include "engine/mulmod.hpp"

namespace veksieve {
namespace {

constexpr int steps = 4096;
constexpr uint64_t below_2_52 = (uint64_t{1} << 52) - 47;
constexpr uint64_t below_2_62 = (uint64_t{1} << 62) - 57;

bool have_ifma() { return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512ifma"); }

void per_product(benchmark::State& state, int products_per_step) {
  state.counters["ns_per_product"] = benchmark::Counter(
      double(steps) * products_per_step, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

template <class Modulus, int vectors>
void lanes(benchmark::State& state) {
  if (!have_ifma()) return state.SkipWithError("no AVX-512 IFMA");
  const auto p = static_cast<uint64_t>(state.range(0));
  const Modulus m(p);
  const uint64_t multiplier = p / 3 + 12345;
  const auto s = [&] {
    if constexpr (std::is_same_v<Modulus, ifma_shoup_modulus>) {
      return m.prepare(_mm512_set1_epi64(static_cast<long long>(multiplier)),
                       _mm512_set1_epi64(static_cast<long long>(m.quotient(multiplier, p))));
    } else {
      return m.prepare(_mm512_set1_epi64(static_cast<long long>(multiplier)));
    }
  }();
  __m512i z[vectors];
  for (int v = 0; v < vectors; ++v) z[v] = _mm512_set1_epi64(static_cast<long long>(p / (7 + v)));
  for (auto _ : state) {
    for (int i = 0; i < steps; ++i) {
      for (int v = 0; v < vectors; ++v) z[v] = m.mul(z[v], s);
      for (int v = 0; v < vectors; ++v) asm volatile("" : "+v"(z[v]));
    }
  }
  per_product(state, 8 * vectors);
}

template <int chains>
void scalar(benchmark::State& state) {
  const auto p = static_cast<uint64_t>(state.range(0));
  const prime_modulus m = make_modulus(p);
  const uint64_t s = p / 3 + 12345;
  uint64_t z[chains];
  for (int c = 0; c < chains; ++c) z[c] = p / (7 + c);
  for (auto _ : state) {
    for (int i = 0; i < steps; ++i) {
      for (int c = 0; c < chains; ++c) z[c] = mulmod_full(z[c], s, m);
      for (int c = 0; c < chains; ++c) asm volatile("" : "+r"(z[c]));
    }
  }
  per_product(state, chains);
}

BENCHMARK(lanes<ifma_modulus, 1>)->Arg(below_2_52);
BENCHMARK(lanes<ifma_modulus, 4>)->Arg(below_2_52);
BENCHMARK(lanes<ifma_modulus, 8>)->Arg(below_2_52);
BENCHMARK(lanes<ifma_wide_modulus, 1>)->Arg(below_2_52)->Arg(below_2_62);
BENCHMARK(lanes<ifma_wide_modulus, 4>)->Arg(below_2_52)->Arg(below_2_62);
BENCHMARK(lanes<ifma_wide_modulus, 8>)->Arg(below_2_52)->Arg(below_2_62);
BENCHMARK(lanes<ifma_shoup_modulus, 1>)->Arg(below_2_62);
BENCHMARK(lanes<ifma_shoup_modulus, 4>)->Arg(below_2_62);
BENCHMARK(lanes<ifma_shoup_modulus, 8>)->Arg(below_2_62);
BENCHMARK(scalar<1>)->Arg(below_2_62);
BENCHMARK(scalar<8>)->Arg(below_2_62);

}  // namespace
}  // namespace veksieve

BENCHMARK_MAIN();
