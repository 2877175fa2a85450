// Nanoseconds per product of the AVX-512 IFMA lanes (the Montgomery products
// of one word below 2^52 and of two words to 2^62, and the product by a
// fixed multiplier with its quotient formed once, to 2^62) beside the engine's scalar Montgomery product, as the walk
// uses them: one vector's dependent chain (latency), four vectors as the
// walk's 32 lanes, and eight. Divide by the clock's nanoseconds for cycles.
// Then the floors of the walk and the table build: the walk's probe of the
// presence map alone and with the one-word product (ns per lane step), and
// the build's setting of an entry's bits (ns per entry). Skipped on a CPU
// without IFMA.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <type_traits>
#include <vector>

#include "engine/kernels/ifma_product.hpp"
#include "engine/mulmod.hpp"
#include "engine/presence_map.hpp"

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

// The block mask of a table of `entries`, and a map with that many random
// entries' bits, as such a table sets.
uint32_t mask_for(int64_t entries) { return presence_blocks_for(static_cast<uint32_t>(entries)) - 1; }

std::vector<uint32_t> filled_map(int entries) {
  std::vector<uint32_t> map(presence_block_count);
  std::mt19937_64 random(7);
  for (int j = 0; j < entries; ++j) {
    const uint64_t key = presence_key(random(), mask_for(entries));
    map[static_cast<uint32_t>(key)] |= static_cast<uint32_t>(key >> 32);
  }
  return map;
}

// 32 lanes probed per step as the walk probes them: the low halves of two
// vectors packed, one gather of sixteen blocks, both bits tested. The values
// step by an addition, or by the one-word product.
template <bool with_product>
void probe(benchmark::State& state) {
  if (!have_ifma()) return state.SkipWithError("no AVX-512 IFMA");
  const std::vector<uint32_t> map = filled_map(static_cast<int>(state.range(0)));
  const ifma_modulus m(below_2_52);
  const auto s = m.prepare(_mm512_set1_epi64(static_cast<long long>(below_2_52 / 3 + 12345)));
  const __m512i block_mask = _mm512_set1_epi32(static_cast<int>(mask_for(state.range(0))));
  const __m512i low5 = _mm512_set1_epi32(31);
  const __m512i one = _mm512_set1_epi32(1);
  const __m512i even = _mm512_set_epi32(30, 28, 26, 24, 22, 20, 18, 16, 14, 12, 10, 8, 6, 4, 2, 0);
  const __m512i stride = _mm512_set1_epi64(0x9e3779b97f4a7);
  __m512i z[4];
  for (int v = 0; v < 4; ++v) z[v] = _mm512_set1_epi64(static_cast<long long>(below_2_52 / (7 + v)));
  uint64_t hits = 0;
  for (auto _ : state) {
    for (int i = 0; i < steps; ++i) {
      for (int v = 0; v < 4; v += 2) {
        const __m512i low = _mm512_permutex2var_epi32(z[v], even, z[v + 1]);
        const __m512i bits = _mm512_i32gather_epi32(_mm512_and_si512(low, block_mask), map.data(), 4);
        const __m512i first = _mm512_and_si512(_mm512_srli_epi32(low, presence_first_shift), low5);
        const __m512i second = _mm512_and_si512(_mm512_srli_epi32(low, presence_second_shift), low5);
        const __m512i both = _mm512_and_si512(_mm512_srlv_epi32(bits, first), _mm512_srlv_epi32(bits, second));
        hits += _mm512_test_epi32_mask(both, one);
      }
      for (int v = 0; v < 4; ++v) z[v] = with_product ? m.mul(z[v], s) : _mm512_add_epi64(z[v], stride);
    }
  }
  benchmark::DoNotOptimize(hits);
  state.counters["ns_per_lane_step"] = benchmark::Counter(
      double(steps) * 32, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// The table build's insertion alone: each entry's two bits ORed into its
// block from a key formed beside it.
void insert(benchmark::State& state) {
  const auto entries = static_cast<size_t>(state.range(0));
  std::vector<uint64_t> keys(entries);
  std::mt19937_64 random(11);
  for (uint64_t& key : keys) key = presence_key(random(), mask_for(state.range(0)));
  std::vector<uint32_t> map(presence_block_count);
  for (auto _ : state) {
    for (const uint64_t key : keys) map[static_cast<uint32_t>(key)] |= static_cast<uint32_t>(key >> 32);
    benchmark::ClobberMemory();
  }
  state.counters["ns_per_entry"] = benchmark::Counter(
      double(entries), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
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
BENCHMARK(probe<false>)->Arg(1200)->Arg(1547);
BENCHMARK(probe<true>)->Arg(1200)->Arg(1547);
BENCHMARK(insert)->Arg(1200)->Arg(1547);

}  // namespace
}  // namespace veksieve

BENCHMARK_MAIN();
