// The whole engine with its prime source: the factor calls over a range
// against the reference over primesieve's primes, the progress calls, the
// returned prime at pmax, at the 2^48 limit, and after a requested stop.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

#include "common/config.hpp"
#include "engine_test_support.hpp"

namespace veksieve {
namespace {

using test::factor_call;
using test::recorder;
using test::sequences;

const sequences mixed(100, 2000, {{1915, 0, 2}, {27, 1, 3}, {4847, 1, 120}, {4847, 7, 120}, {5359, 0, 120}});

struct run_result {
  int64_t returned;
  recorder rec;
};

void run(run_result& r, const sequences& seqs, int64_t pmin, int64_t pmax, double alpha = 2.5) {
  r.returned = sieve_engine(pmin, pmax, seqs.view(), r.rec.callbacks(), alpha);
}

std::vector<factor_call> reference(const sequences& seqs, uint64_t low, uint64_t high, double alpha = 2.5) {
  return test::reference_calls(seqs.view(), plan_stride_search(seqs.view(), alpha), test::primes_between(low, high));
}

int64_t next_prime_above(int64_t n) { return test::primes_between(n + 1, n + 2000).front(); }

TEST(sieve_engine, range_from_zero_matches_reference) {
  run_result r;
  run(r, mixed, 0, 200000);
  EXPECT_EQ(r.returned, next_prime_above(200000));
  EXPECT_EQ(test::sorted_calls(r.rec.factors), reference(mixed, 0, 200000));
  EXPECT_TRUE(r.rec.progress.empty());  // all primes share bit 18 with pmin
}

TEST(sieve_engine, progress_follows_bit_18) {
  // pmin has bit 18 set; the primes of (4*2^18, 5*2^18) have it clear, and
  // the prime that ends the run has it set again but is not reported.
  const int64_t pmin = 4 * 262144 - 1000, pmax = 5 * 262144 - 1;
  run_result r;
  run(r, mixed, pmin, pmax, 0.1);
  EXPECT_EQ(r.rec.progress, (std::vector<int64_t>{next_prime_above(4 * 262144)}));
  EXPECT_EQ(r.returned, next_prime_above(pmax));
  EXPECT_EQ(test::sorted_calls(r.rec.factors), reference(mixed, pmin + 1, pmax, 0.1));

  run_result longer;
  run(longer, mixed, pmin, 6 * 262144 + 10, 105);
  EXPECT_EQ(longer.rec.progress,
            (std::vector<int64_t>{next_prime_above(4 * 262144), next_prime_above(5 * 262144 - 1),
                                  next_prime_above(6 * 262144 - 1)}));
  EXPECT_EQ(test::sorted_calls(longer.rec.factors), reference(mixed, pmin + 1, 6 * 262144 + 10, 105));
}

TEST(sieve_engine, pmin_above_pmax_returns_the_first_prime) {
  run_result r;
  run(r, mixed, 1000, 500);
  EXPECT_EQ(r.returned, 1009);
  EXPECT_TRUE(r.rec.factors.empty());
  EXPECT_TRUE(r.rec.progress.empty());
}

TEST(sieve_engine, stops_at_its_limit) {
  const int64_t limit = engine_pmax_limit;
  run_result r;
  run(r, mixed, limit - 20000, std::numeric_limits<int64_t>::max());
  EXPECT_EQ(r.returned, next_prime_above(limit));
  EXPECT_EQ(test::sorted_calls(r.rec.factors), reference(mixed, limit - 19999, limit));
}

TEST(sieve_engine, narrow_ranges_around_known_factors) {
  // Ranges of 10^5 around a prime near 10^12, and one ending at 2^48 - 1,
  // that divide some k*2^n+1 of these sequences.
  const sequences small_n(2, 3000, {{1915, 0, 2}, {4847, 1, 2}, {27, 1, 3}, {19249, 0, 4}});
  const auto near_12 = test::factor_primes(small_n, 500000000000, 5000000000000);
  const auto near_48 = test::factor_primes(small_n, 70368744177664, 281474976710655);
  ASSERT_FALSE(near_12.empty());
  ASSERT_FALSE(near_48.empty());
  for (const int64_t center : {near_12.front(), near_48.back()}) {
    const int64_t pmin = center - 50000, pmax = std::min<int64_t>(center + 50000, 281474976710655);
    run_result r;
    run(r, small_n, pmin, pmax);
    EXPECT_EQ(r.returned, next_prime_above(pmax));
    const auto want = reference(small_n, pmin + 1, pmax);
    EXPECT_EQ(test::sorted_calls(r.rec.factors), want);
    EXPECT_FALSE(want.empty());
  }
}

TEST(sieve_engine, requested_stop_returns_the_first_prime_not_sieved) {
  run_result r;
  r.rec.stop_after_factors = 50;
  run(r, mixed, 0, 1000000);
  ASSERT_GE(r.rec.factors.size(), 50u);
  const int64_t last_sieved = r.rec.factors.back().p;
  EXPECT_EQ(r.returned, next_prime_above(last_sieved));
  EXPECT_EQ(test::sorted_calls(r.rec.factors), reference(mixed, 0, static_cast<uint64_t>(last_sieved)));
}

}  // namespace
}  // namespace veksieve
