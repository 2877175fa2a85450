// The factor callback: which solutions it drops, that its verification is
// exact for every size of prime (checked on factors found by an independent
// walk), what it prints and saves, and the console-only thinning.
#include <gtest/gtest.h>
#include <primesieve.hpp>

#include <cinttypes>

#include "capture.hpp"
#include "test_support.hpp"

namespace veksieve {
namespace {

using testing::candidate;
using testing::k_2n_plus_1_by_doubling;

struct known_factor {
  int64_t p;
  int32_t k;
  uint32_t n;
};

// Walks c(n) = -2^-n mod p by halving and takes the first n >= n_from with
// c(n) odd and below 2^30: then k = c(n) gives k*2^n == -1.
known_factor find_factor(int64_t p, uint32_t n_from, uint32_t n_limit) {
  const auto modulus = static_cast<uint64_t>(p);
  uint64_t c = modulus - 1;
  for (uint32_t n = 0; n <= n_limit; ++n) {
    if (n >= n_from && c < (uint64_t{1} << 30) && (c & 1)) {
      return {p, static_cast<int32_t>(c), n};
    }
    c = (c & 1) ? (c + modulus) / 2 : c / 2;
  }
  ADD_FAILURE() << "no factor of p = " << p << " with n <= " << n_limit;
  return {p, 1, 0};
}

struct factor_fixture : ::testing::Test {
  testing::scratch_dir dir;
  testing::captured_output out;
  console_channel channel{out.file(), [] { return uint32_t{0}; }};
  int64_t now = 1000000;

  std::string status_file() const { return dir.file("VekStatus.dat"); }
};

TEST_F(factor_fixture, drops_exponents_beyond_the_window_and_ones_already_struck) {
  // 7 * 2^8 + 1 = 1793 = 11 * 163, and 2 has order 10 modulo 11, so 11 also
  // divides 7 * 2^18 + 1. Sequences 1 and 2 share one bitmap, as split ones do.
  testing::test_job job = testing::make_job(2, 16, {21, 7, 7}, status_file(), {false, false, true});
  testing::commit_harness rep(job, channel, now);

  rep.commit.commit_factor(11, 1, 18);  // a true factor, but beyond nmax
  EXPECT_EQ(out.text(), "");
  rep.commit.commit_factor(11, 1, 8);
  rep.commit.commit_factor(163, 1, 8);  // the same candidate from a second prime
  rep.commit.commit_factor(163, 2, 8);  // and through the other sequence of that k
  EXPECT_EQ(out.text(), "11 | 7*2^8+1\n");
  EXPECT_EQ(testing::read_file(status_file()), "11 | 7*2^8+1\n");
  EXPECT_FALSE(candidate(job, 2, 8));
  EXPECT_TRUE(candidate(job, 0, 8));
}

TEST_F(factor_fixture, verification_is_exact_below_and_above_2_to_the_31_and_near_2_to_the_48) {
  std::vector<known_factor> factors;
  for (int64_t p : {int64_t{2147483647}, int64_t{2147483629}, int64_t{2147483659}, int64_t{2147483693}}) {
    factors.push_back(find_factor(p, 2, 1 << 22));
  }
  primesieve::iterator below_2_48((uint64_t{1} << 48) - 1);
  primesieve::iterator above_2_47(uint64_t{1} << 47);
  for (int i = 0; i < 3; ++i) {
    factors.push_back(find_factor(static_cast<int64_t>(below_2_48.prev_prime()), 2, 1 << 24));
    factors.push_back(find_factor(static_cast<int64_t>(above_2_47.next_prime()), 2, 1 << 24));
  }
  // Small primes with n above p (the exponent is reduced modulo p - 1), an
  // n that is a multiple of p - 1, and k above p (k is reduced modulo p).
  factors.push_back(find_factor(1000003, 1000004, 3000000));
  factors.push_back({1000003, 2000005, 2000004});
  factors.push_back(find_factor(65537, 70000, 200000));
  factors.back().k += 2 * 65537;
  factors.push_back({999983, 999983 * 3 - 1, 999982 * 4});

  uint32_t nmax = 0;
  std::vector<int32_t> ks;
  for (const known_factor& f : factors) {
    ASSERT_EQ(k_2n_plus_1_by_doubling(static_cast<uint64_t>(f.p), static_cast<uint64_t>(f.k), f.n), 0u)
        << f.p << " " << f.k << " " << f.n;
    nmax = std::max(nmax, f.n + 1);
    ks.push_back(f.k);
  }
  testing::test_job job = testing::make_job(2, static_cast<int32_t>(nmax), ks, status_file());
  testing::commit_harness rep(job, channel, now);

  std::string expected_console, expected_file;
  for (uint32_t i = 0; i < factors.size(); ++i) {
    const known_factor& f = factors[i];
    rep.commit.commit_factor(f.p, i, f.n + 1);  // one more doubling: p cannot divide it
    rep.commit.commit_factor(f.p, i, f.n);
    char line[128];
    std::snprintf(line, sizeof line, "Verification failed: %" PRId64 " does not divide %d*2^%u+1!\n", f.p, f.k,
                  f.n + 1);
    expected_console += line;
    std::snprintf(line, sizeof line, "%" PRId64 " | %d*2^%u+1\n", f.p, f.k, f.n);
    expected_console += line;
    expected_file += line;
    EXPECT_FALSE(candidate(job, i, f.n)) << f.p;
    EXPECT_TRUE(candidate(job, i, f.n + 1)) << f.p;
  }
  EXPECT_EQ(out.text(), expected_console);
  EXPECT_EQ(testing::read_file(status_file()), expected_file);
}

TEST_F(factor_fixture, console_only_runs_show_a_thinned_selection_and_save_nothing) {
  std::vector<known_factor> factors;
  for (int64_t p : {50021, 95003, 150001, 190027, 260003}) factors.push_back(find_factor(p, 2, 1 << 20));
  primesieve::iterator large(5000000000);
  const auto p1 = static_cast<int64_t>(large.next_prime());
  const auto p2 = static_cast<int64_t>(large.next_prime());
  factors.push_back(find_factor(p1, 2, 1 << 24));
  factors.push_back(find_factor(p2, 2, 1 << 24));

  uint32_t nmax = 0;
  std::vector<int32_t> ks;
  for (const known_factor& f : factors) {
    nmax = std::max(nmax, f.n);
    ks.push_back(f.k);
  }
  testing::test_job job = testing::make_job(2, static_cast<int32_t>(nmax), ks, status_file());
  job.range.console_only = true;
  testing::commit_harness rep(job, channel, now);

  for (uint32_t i = 0; i < factors.size(); ++i) {
    now += 10;
    rep.commit.commit_factor(factors[i].p, i, factors[i].n);
    EXPECT_FALSE(candidate(job, i, factors[i].n)) << factors[i].p;
  }
  const auto lines = out.lines();
  ASSERT_EQ(lines.size(), 4u) << out.text();
  EXPECT_EQ(lines[0].substr(0, 8), "95003 | ");
  EXPECT_EQ(lines[1].substr(0, 9), "260003 | ");
  EXPECT_EQ(lines[2].substr(0, 11), std::to_string(p1) + " ");  // from five billion on, every one
  EXPECT_EQ(lines[3].substr(0, 11), std::to_string(p2) + " ");
  EXPECT_FALSE(std::filesystem::exists(status_file()));
}

}  // namespace
}  // namespace veksieve
