// The per-prime work (filters and stride search) against the brute-force
// reference, prime by prime, with the presence map checked after each prime
// to hold no more than one table's bits; every other prime's table has
// chains. Sequences keep the parity of their k's candidates, as a sequence
// file's do; a k that 3 divides may have any class.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <string>

#include "engine/prime_searcher.hpp"
#include "engine/mulmod.hpp"
#include "engine_test_support.hpp"

namespace veksieve {
namespace {

using test::factor_call;
using test::recorder;
using test::sequences;

// Sieves every prime of `primes` with one engine state per walk kernel and
// compares its factor calls, sorted, with the reference; returns the number
// of solutions.
size_t check_against_reference(const sequences& seqs, double alpha, const std::vector<int64_t>& primes) {
  const stride_sizing sizing = plan_stride_search(seqs.view(), alpha);
  EXPECT_TRUE(sizing.ok()) << sizing.refusal;
  if (!sizing.ok()) return 0;
  const std::vector<factor_call> want = test::reference_calls(seqs.view(), sizing, primes);
  for (const kernel_backend* kernel : test::kernels_under_test()) {
    SCOPED_TRACE(std::string("kernel ") + std::string(kernel->name));
    recorder rec;
    prime_searcher state(seqs.view(), rec.callbacks(), sizing);
    state.pin_kernel(*kernel);
    // Bits or heads left over from earlier tables would show as more than
    // one table sets.
    bool map_clean = true;
    for (size_t i = 0; i < primes.size(); ++i) {
      state.table().limit_table_scans(i % 2 == 0 ? table_scan_max_hits : 0);
      state.sieve_prime(primes[i]);
      const auto map = state.table().presence_map();
      const auto heads = state.table().presence_heads();
      size_t bits = 0;
      for (const uint32_t b : map) bits += static_cast<size_t>(std::popcount(b));
      const auto heads_set = std::count_if(heads.begin(), heads.end(), [](uint16_t h) { return h != 0; });
      map_clean = map_clean && bits <= 2 * size_t{sizing.table_length} &&
                  static_cast<size_t>(heads_set) < sizing.table_length;
    }
    EXPECT_TRUE(map_clean) << "presence map left dirty";
    const std::vector<factor_call> got = test::sorted_calls(rec.factors);
    EXPECT_EQ(got.size(), want.size());
    const auto mismatch = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
    if (mismatch.first != got.end() || mismatch.second != want.end()) {
      ADD_FAILURE() << "first difference: engine "
                    << (mismatch.first != got.end() ? ::testing::PrintToString(*mismatch.first) : "(none)")
                    << ", reference "
                    << (mismatch.second != want.end() ? ::testing::PrintToString(*mismatch.second) : "(none)");
    }
  }
  std::printf("%zu primes from %lld, %zu solutions, M %u, table length %u\n", primes.size(),
              static_cast<long long>(primes.empty() ? 0 : primes.front()), want.size(), sizing.stride,
              sizing.table_length);
  return want.size();
}

// gcd steps (some that g = 4 does not divide), a split k, an even k and a
// multiple of 3, over the small primes where the order of 2 is short.
const sequences gcd_steps(100, 1300, {{1915, 0, 2},
                                      {3061, 2, 6},
                                      {27, 1, 3},
                                      {4847, 1, 120},
                                      {4847, 7, 120},
                                      {4847, 31, 120},
                                      {8, 1, 4},
                                      {5, 1, 12},
                                      {5, 5, 12}});

// k's of the period table split into classes, as the full sieve file has.
const sequences split_ks(1000, 6000, {{4847, 1, 120},
                                      {4847, 7, 120},
                                      {4847, 31, 120},
                                      {4847, 55, 120},
                                      {5359, 0, 120},
                                      {5359, 12, 120},
                                      {5359, 60, 120},
                                      {24737, 1, 120},
                                      {10223, 3, 96},
                                      {10223, 15, 96},
                                      {27653, 5, 144}});

TEST(stride_search, small_primes_with_gcd_steps) {
  // p = 3 (no filter), 5 and 7 (many n per k, equal table values) onwards.
  EXPECT_GT(check_against_reference(gcd_steps, 2.5, test::primes_between(3, 300000)), 1000u);
}

TEST(stride_search, split_ks_over_the_small_primes) {
  EXPECT_GT(check_against_reference(split_ks, 0.1, test::primes_between(3, 2000000)), 1000u);
}

// Many k's near 2^30 with small n, so that some k*2^n+1 (below 2^80) have
// prime factors near 10^12 and near 2^48; each class keeps its k's parity.
sequences many_large_ks() {
  sequences seqs(2, 120, {});
  for (int32_t k = (1 << 30) + 1; seqs.k.size() < 64; k += 2 * 7919) {
    if (k % 3 != 0) seqs.add({k, k % 3 == 1 ? 0 : 1, 2});
  }
  return seqs;
}

// One k split into classes of step 24, with small n, so that the known
// factors of k*2^n+1 reach a split k's classes too.
const sequences split_small_n(2, 3000, {{4847, 1, 24}, {4847, 7, 24}, {4847, 13, 24}, {4847, 19, 24},
                                        {5359, 0, 24}, {5359, 6, 24}, {5359, 12, 24}, {5359, 18, 24},
                                        {1915, 0, 2}, {27, 1, 3}});

// Known factors in [low, high] of both sets, checked for every kernel.
void check_known_factors(uint64_t low, uint64_t high, double alpha, size_t at_least) {
  const sequences large_ks = many_large_ks();
  const auto factors = test::factor_primes(large_ks, low, high);
  EXPECT_GE(check_against_reference(large_ks, alpha, factors), factors.size());
  EXPECT_GE(factors.size(), at_least);
  const auto split_factors = test::factor_primes(split_small_n, low, high);
  EXPECT_GE(check_against_reference(split_small_n, alpha, split_factors), split_factors.size());
}

TEST(stride_search, members_far_from_their_leader) {
  // Classes of step 720 whose exponents lie up to 700 apart, over primes
  // p = 1 (mod 720), whose tests have degrees up to 720 and beyond: the
  // members' tests derived from their leader's power reach every offset.
  const sequences wide_classes(1000, 40000, {{4847, 1, 720},   {4847, 7, 720},   {4847, 31, 720}, {4847, 55, 720},
                                             {4847, 97, 720},  {4847, 313, 720}, {4847, 601, 720}, {4847, 703, 720},
                                             {5359, 0, 720},   {5359, 12, 720},  {5359, 300, 720}, {5359, 708, 720}});
  std::vector<int64_t> primes;
  for (const int64_t p : test::primes_between(3, 20000000)) {
    if (p % 720 == 1 || p < 2000) primes.push_back(p);
  }
  EXPECT_GT(check_against_reference(wide_classes, 2.5, primes), 200u);
}

TEST(stride_search, near_10_12) {
  const auto primes = test::primes_between(1000000000000, 1000000000000 + 2000000);
  check_against_reference(split_ks, 2.5, primes);
  const sequences long_stride(100000, 101500,
                              {{1915, 0, 2}, {3061, 2, 6}, {8, 1, 4}, {27, 1, 3}, {99989, 1, 10}, {40291, 0, 12}});
  check_against_reference(long_stride, 105, {primes.begin(), primes.begin() + 30000});
  check_known_factors(500000000000, 5000000000000, 2.5, 8);
}

// A table of 1500 entries (stride 2), whose presence map has all its blocks,
// at primes that divide some k*2^n+1 of it and a run of others.
TEST(stride_search, long_table_in_the_wide_map) {
  const sequences wide(2, 3000, {{1915, 0, 2}, {4847, 1, 2}});
  ASSERT_GE(plan_stride_search(wide.view(), 1e-6).table_length, presence_wide_length);
  std::vector<int64_t> primes = test::factor_primes(wide, 100000000000, 100000000000000);
  const auto run = test::primes_between(1000000000000, 1000000000000 + 200000);
  primes.insert(primes.end(), run.begin(), run.end());
  std::sort(primes.begin(), primes.end());
  EXPECT_GE(check_against_reference(wide, 1e-6, primes), 10u);
}

TEST(stride_search, near_2_48) {
  check_against_reference(split_ks, 2.5, test::primes_between(281474976710655 - 300000, 281474976710655));
  check_known_factors(70368744177664, 281474976710655, 0.1, 8);
}

// Deep primes, beyond the prime source: known factors around 2^50 (where the
// AVX2 kernel ends), 2^52 (the AVX-512 one), 2^56 and up to 2^62, and the
// reference over consecutive primes on both sides of 2^50 and 2^52, so that
// each kernel is checked where it runs and a pinned SIMD kernel hands over.
TEST(stride_search, deep_primes_to_2_62) {
  if (product_max_prime < (uint64_t{1} << 62) - 1) GTEST_SKIP() << "this build's product ends below 2^62";
  check_known_factors(uint64_t{1} << 49, uint64_t{1} << 51, 2.5, 4);
  check_known_factors(uint64_t{1} << 51, uint64_t{1} << 53, 2.5, 4);
  check_known_factors(uint64_t{1} << 55, uint64_t{1} << 57, 2.5, 4);
  check_known_factors(uint64_t{1} << 60, (uint64_t{1} << 62) - 1, 0.1, 4);
  for (const int bits : {50, 52}) {
    std::vector<int64_t> primes;
    for (const uint64_t p : test::primes_from((uint64_t{1} << bits) - 3000, 200)) primes.push_back(static_cast<int64_t>(p));
    ASSERT_LT(primes.front(), int64_t{1} << bits);
    ASSERT_GT(primes.back(), int64_t{1} << bits);
    check_against_reference(split_ks, 2.5, primes);
  }
  check_against_reference(split_ks, 2.5, [] {
    std::vector<int64_t> primes;
    for (const uint64_t p : test::primes_from((uint64_t{1} << 62) - 20000, 100)) {
      if (p < (uint64_t{1} << 62)) primes.push_back(static_cast<int64_t>(p));
    }
    return primes;
  }());
}

// The -1 form beside the +1 form of the same k's: k*2^n-1 keeps the other
// parity of candidates, a split k of each form makes two groups, and k = 1
// gives the Mersenne numbers. Small primes (short orders), primes near
// 10^12 and consecutive primes across 2^50, with the known factors of
// k*2^n-1 for k's near 2^30 in both ranges.
TEST(stride_search, minus_one_form) {
  const sequences both_forms(100, 1300, {{1915, 0, 2},        {1915, 1, 2, -1},    {1, 1, 2, -1},
                                         {3061, 3, 6, -1},    {27, 1, 3, -1},      {27, 1, 3},
                                         {4847, 1, 120},      {4847, 7, 120},      {4847, 30, 120, -1},
                                         {4847, 54, 120, -1}, {8, 0, 4, -1},       {5, 0, 12, -1},
                                         {5, 4, 12, -1},      {5359, 1, 24, -1},   {5359, 13, 24, -1}});
  sequences large_ks(2, 120, {});
  for (int32_t k = (1 << 30) + 1; large_ks.k.size() < 64; k += 2 * 7919) {
    if (k % 3 != 0) large_ks.add({k, k % 3 == 1 ? 1 : 0, 2, -1});
  }
  EXPECT_GT(check_against_reference(both_forms, 2.5, test::primes_between(3, 300000)), 1000u);
  check_against_reference(both_forms, 2.5, test::primes_between(1000000000000, 1000000000000 + 300000));
  const auto known = test::factor_primes(large_ks, 500000000000, 5000000000000);
  EXPECT_GE(known.size(), 8u);
  EXPECT_GE(check_against_reference(large_ks, 2.5, known), known.size());
  if (product_max_prime < (uint64_t{1} << 51)) return;
  const auto deep = test::factor_primes(large_ks, uint64_t{1} << 49, uint64_t{1} << 51);
  EXPECT_GE(deep.size(), 4u);
  EXPECT_GE(check_against_reference(large_ks, 2.5, deep), deep.size());
  check_against_reference(both_forms, 2.5, test::primes_from((uint64_t{1} << 50) - 3000, 200));
}

TEST(stride_search, kernel_is_chosen_per_prime) {
  const sequences one(50, 50, {{5, 1, 2}});
  recorder rec;
  prime_searcher state(one.view(), rec.callbacks(), plan_stride_search(one.view(), 2.5));
  for (const kernel_backend& kernel : kernel_backends()) {
    state.pin_kernel(kernel);
    const uint64_t limit = kernel.max_prime;
    EXPECT_EQ(&state.kernel_for(limit), &kernel);
    if (limit < product_max_prime) {
      EXPECT_EQ(&state.kernel_for(limit + 2), &fallback_kernel());
    }
  }
}

TEST(stride_search, step_multiple_beyond_int32) {
  // L = 3 * 2^30: one table entry, walks of two and three positions, and
  // solutions up to n = nmin + L - 1 above 2^31.
  const sequences huge_steps(2, 100, {{4847, 1, 1610612736}, {19249, 0, 1073741824}, {19249, 2, 1073741824}});
  check_against_reference(huge_steps, 2.5, test::primes_between(3, 100000));
}

TEST(stride_search, long_table_gets_a_longer_stride) {
  // alpha 1e-6 gives r0 = 0; M = L = 4 would need 70,001 entries, whose
  // indices would wrap in 16 bits, so the stride grows to 8.
  const sequences long_window(2, 280001, {{1915, 0, 2}, {5, 1, 4}});
  const stride_sizing sizing = plan_stride_search(long_window.view(), 1e-6);
  ASSERT_EQ(sizing.stride, 8u);
  ASSERT_EQ(sizing.table_length, 35001u);
  check_against_reference(long_window, 1e-6, test::primes_between(3, 600));
}

TEST(stride_search, one_exponent_window) {
  // r0 = 0: the stride is L and the table has one entry.
  const sequences one(50, 50, {{5, 1, 2}, {7, 0, 2}});
  check_against_reference(one, 0.1, test::primes_between(3, 100000));
}

}  // namespace
}  // namespace veksieve
