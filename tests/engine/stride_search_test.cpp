// The per-prime work (filters and stride search) against the brute-force
// reference, prime by prime, with the presence map checked empty after each
// prime. Sequences keep the parity of their k's candidates, as a sequence
// file's do; a k that 3 divides may have any class.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "engine/engine_state.hpp"
#include "engine/fpu_control.hpp"
#include "engine_test_support.hpp"

namespace veksieve {
namespace {

using test::factor_call;
using test::recorder;
using test::sequences;

// Sieves every prime of `primes` with one engine state and compares its
// factor calls with the reference; returns the number of solutions.
size_t check_against_reference(const sequences& seqs, double alpha, const std::vector<int64_t>& primes) {
  engine_fpu_scope mode;
  const stride_sizing sizing = plan_stride_search(seqs.view(), alpha);
  EXPECT_TRUE(sizing.ok()) << sizing.refusal;
  if (!sizing.ok()) return 0;
  recorder rec;
  engine_state state(seqs.view(), rec.callbacks(), sizing);
  bool map_clean = true;
  for (const int64_t p : primes) {
    state.sieve_prime(p);
    const auto map = state.presence_map();
    map_clean = map_clean && std::all_of(map.begin(), map.end(), [](const presence_group& g) {
      return g.bits == 0 && g.head == 0;
    });
  }
  EXPECT_TRUE(map_clean) << "presence map left dirty";
  const std::vector<factor_call> want = test::reference_calls(seqs.view(), sizing, primes);
  EXPECT_EQ(rec.factors.size(), want.size());
  const auto mismatch = std::mismatch(rec.factors.begin(), rec.factors.end(), want.begin(), want.end());
  if (mismatch.first != rec.factors.end() || mismatch.second != want.end()) {
    ADD_FAILURE() << "first difference: engine "
                  << (mismatch.first != rec.factors.end() ? ::testing::PrintToString(*mismatch.first) : "(none)")
                  << ", reference "
                  << (mismatch.second != want.end() ? ::testing::PrintToString(*mismatch.second) : "(none)");
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

TEST(stride_search, near_10_12) {
  const auto primes = test::primes_between(1000000000000, 1000000000000 + 2000000);
  check_against_reference(split_ks, 2.5, primes);
  const sequences long_stride(100000, 101500,
                              {{1915, 0, 2}, {3061, 2, 6}, {8, 1, 4}, {27, 1, 3}, {99989, 1, 10}, {40291, 0, 12}});
  check_against_reference(long_stride, 105, {primes.begin(), primes.begin() + 30000});
  const sequences large_ks = many_large_ks();
  const auto factors = test::factor_primes(large_ks, 500000000000, 5000000000000);
  EXPECT_GE(check_against_reference(large_ks, 2.5, factors), factors.size());
  EXPECT_GE(factors.size(), 8u);
}

TEST(stride_search, near_2_48) {
  check_against_reference(split_ks, 2.5, test::primes_between(281474976710655 - 300000, 281474976710655));
  const sequences large_ks = many_large_ks();
  const auto factors = test::factor_primes(large_ks, 70368744177664, 281474976710655);
  EXPECT_GE(check_against_reference(large_ks, 0.1, factors), factors.size());
  EXPECT_GE(factors.size(), 8u);
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
