// Nanoseconds per modular product: the Montgomery product beside a 128-bit
// product with %, and
// the bare 128-bit product, in one dependent chain (latency) and in four
// independent chains (throughput); and the walk's own shapes, side by side:
// the Montgomery product in the interleaved kernel's 8 chains, and the AVX2
// kernel's 16 lanes (doubles with FMA below 2^50, 64-bit integers above).
// The counter ns_per_product is the figure.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "engine/mulmod.hpp"

namespace veksieve {
namespace {

constexpr int products_per_chain = 4096;

// The Montgomery context of one prime, and the prime for the others.
struct moduli {
  prime_modulus montgomery;
  uint64_t p;
};

struct montgomery_product {
  static uint64_t mul(uint64_t a, uint64_t b, const moduli& m) {
    return mulmod_full(a, b, m.montgomery);
  }
};
struct int128_mod {
  static uint64_t mul(uint64_t a, uint64_t b, const moduli& m) {
    return static_cast<uint64_t>(static_cast<unsigned __int128>(a) * b % m.p);
  }
};
// No reduction at all: the floor any product must pay (high half folded in
// to keep the chain dependent and the value bounded).
struct int128_product {
  static uint64_t mul(uint64_t a, uint64_t b, const moduli& m) {
    const unsigned __int128 x = static_cast<unsigned __int128>(a) * b;
    return (static_cast<uint64_t>(x) ^ static_cast<uint64_t>(x >> 64)) & (m.p - 1);
  }
};

void report(benchmark::State& state, int chains) {
  state.counters["ns_per_product"] = benchmark::Counter(double(products_per_chain) * chains,
                                                        benchmark::Counter::kIsIterationInvariantRate |
                                                            benchmark::Counter::kInvert);
}

template <class Op>
void dependent_chain(benchmark::State& state) {
  const auto p = static_cast<uint64_t>(state.range(0));
  const uint64_t y = p / 3 + 12345;
  const moduli m{make_modulus(p), p};
  uint64_t x = m.p / 7;
  for (auto _ : state) {
    for (int i = 0; i < products_per_chain; ++i) x = Op::mul(x, y, m);
    benchmark::DoNotOptimize(x);
  }
  report(state, 1);
}

template <class Op>
void independent_chains(benchmark::State& state) {
  const auto p = static_cast<uint64_t>(state.range(0));
  const uint64_t y = p / 3 + 12345;
  const moduli m{make_modulus(p), p};
  uint64_t x0 = m.p / 7, x1 = m.p / 11, x2 = m.p / 13, x3 = m.p / 17;
  for (auto _ : state) {
    for (int i = 0; i < products_per_chain; ++i) {
      x0 = Op::mul(x0, y, m);
      x1 = Op::mul(x1, y, m);
      x2 = Op::mul(x2, y, m);
      x3 = Op::mul(x3, y, m);
    }
    benchmark::DoNotOptimize(x0 + x1 + x2 + x3);
  }
  report(state, 4);
}

// The chains of the interleaved kernel: each value times its own multiplier.
void interleaved_chains(benchmark::State& state) {
  constexpr int chains = 8;
  const auto p = static_cast<uint64_t>(state.range(0));
  const prime_modulus m = make_modulus(p);
  uint64_t x[chains], y[chains];
  for (int c = 0; c < chains; ++c) {
    x[c] = p / (c + 3);
    y[c] = p / (c + 5) + 12345;
  }
  for (auto _ : state) {
    for (int i = 0; i < products_per_chain; ++i) {
      for (int c = 0; c < chains; ++c) x[c] = mulmod_full(x[c], y[c], m);
    }
    benchmark::DoNotOptimize(x);
  }
  report(state, chains);
}

constexpr int64_t near_10_12 = 1000000000039;
constexpr int64_t below_2_48 = 281474976710597;
constexpr int64_t near_2_55 = 36028797018963971;
constexpr int64_t below_2_62 = 4611686018427387847;

BENCHMARK(interleaved_chains)->Arg(near_10_12)->Arg(near_2_55)->Arg(below_2_62);

#define VEKSIEVE_MULMOD_BENCH(op)                                                   \
  BENCHMARK(dependent_chain<op>)->Arg(near_10_12)->Arg(below_2_48);                 \
  BENCHMARK(independent_chains<op>)->Arg(near_10_12)->Arg(below_2_48)

VEKSIEVE_MULMOD_BENCH(montgomery_product);
VEKSIEVE_MULMOD_BENCH(int128_mod);
VEKSIEVE_MULMOD_BENCH(int128_product);

#if defined(VEKSIEVE_HAVE_AVX2_KERNEL)
}  // namespace
void avx2_lane_products(uint64_t* z, const uint64_t* s, uint64_t p, uint64_t rounds);
namespace {

void avx2_lanes(benchmark::State& state) {
  constexpr int lanes = 16;
  const auto p = static_cast<uint64_t>(state.range(0));
  if (!__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("fma")) {
    state.SkipWithError("no AVX2 here");
    return;
  }
  uint64_t x[lanes], y[lanes];
  for (int l = 0; l < lanes; ++l) {
    x[l] = p / (l + 3);
    y[l] = p / (l + 5) + 12345;
  }
  for (auto _ : state) {
    avx2_lane_products(x, y, p, products_per_chain);
    benchmark::DoNotOptimize(x);
  }
  report(state, lanes);
}
BENCHMARK(avx2_lanes)->Arg(near_10_12)->Arg(near_2_55)->Arg(below_2_62);
#endif

}  // namespace
}  // namespace veksieve

BENCHMARK_MAIN();
