// k's outside the period table, split into residue classes by the sequence
// table's cost rule: the engine must still find every prime factor of every
// candidate, checked against square-and-multiply over the candidates' n's,
// on small primes and on crafted primes near 10^12 and below 2^48.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <tuple>

#include "control/sequence_table.hpp"
#include "engine/prime_searcher.hpp"
#include "engine_test_support.hpp"

namespace veksieve {
namespace {

using factor = std::tuple<int32_t, uint32_t, int64_t>;  // k, n, p

// A sequence file whose k's keep, as real files do, only the n for which
// k*2^n+1 has no factor among a few small primes: their n's fall into few
// classes of a divisor of 720.
std::string sieved_file(int32_t nmin, int32_t nmax, const std::vector<int32_t>& ks) {
  std::ostringstream text;
  text << ks.size() << "\n" << nmin << "\n" << nmax << "\n";
  for (const int32_t k : ks) {
    text << "k=" << k << "\n";
    for (int32_t n = nmin; n <= nmax; ++n) {
      bool sieved = false;
      for (const uint64_t q : {3, 5, 7, 13, 17, 241})
        sieved = sieved || (test::mul_ref(k % q, test::pow_ref(2, static_cast<uint64_t>(n), q), q) + 1) % q == 0;
      if (!sieved) text << n << "\n";
    }
  }
  return text.str();
}

std::vector<factor> engine_factors(const sequence_table& job, const std::vector<int64_t>& primes) {
  const test::sequences seqs = [&] {
    test::sequences s(job.nmin, job.nmax, {});
    for (int32_t i = 0; i < job.count; ++i) s.add({job.k[i], job.residue[i], job.step[i]});
    return s;
  }();
  const stride_sizing sizing = plan_stride_search(seqs.view(), job.alpha);
  EXPECT_TRUE(sizing.ok()) << sizing.refusal;
  test::recorder rec;
  prime_searcher searcher(seqs.view(), rec.callbacks(), sizing);
  for (const int64_t p : primes) searcher.sieve_prime(p);
  std::set<factor> found;  // candidates only, as the factor callback keeps them
  for (const test::factor_call& c : rec.factors) {
    const int64_t b = int64_t{c.n} - job.nmin;
    if (c.n <= static_cast<uint32_t>(job.nmax) && (job.bitmap[c.index][b / 32] >> (b % 32) & 1))
      found.insert({job.k[c.index], c.n, c.p});
  }
  return {found.begin(), found.end()};
}

// Each k once (its entries share one bitmap), every candidate n by doubling.
std::vector<factor> reference_factors(const sequence_table& job, const std::vector<int64_t>& primes) {
  std::set<factor> want;
  for (int32_t i = 0; i < job.count; ++i) {
    if (i > 0 && job.bitmap[i] == job.bitmap[i - 1]) continue;
    for (const int64_t p : primes) {
      const uint64_t q = static_cast<uint64_t>(p);
      uint64_t x = test::mul_ref(static_cast<uint64_t>(job.k[i]) % q, test::pow_ref(2, uint64_t(job.nmin), q), q);
      for (int32_t n = job.nmin; n <= job.nmax; ++n, x = test::mul_ref(x, 2, q)) {
        const int64_t b = n - job.nmin;
        if (x == q - 1 && (job.bitmap[i][b / 32] >> (b % 32) & 1)) want.insert({job.k[i], static_cast<uint32_t>(n), p});
      }
    }
  }
  return {want.begin(), want.end()};
}

TEST(class_split, every_factor_of_split_ks_is_found) {
  // Walks made dear and filters cheap, so that the rule splits these k's.
  const search_costs walks_dear{1, 4, 0, 0, 0};
  std::vector<int32_t> ks{1915, 3061, 7747, 40291, 99989};
  for (int32_t k = (1 << 29) + 1; ks.size() < 40; k += 2 * 7919) ks.push_back(k);
  std::istringstream text(sieved_file(2, 800, ks));
  const sequence_table job = read_sequence_table(text, INT64_MAX, walks_dear);
  ASSERT_GT(job.count, static_cast<int32_t>(2 * ks.size())) << "the rule split no k";

  test::sequences seqs(job.nmin, job.nmax, {});
  for (int32_t i = 0; i < job.count; ++i) seqs.add({job.k[i], job.residue[i], job.step[i]});
  std::vector<int64_t> near_12 = test::factor_primes(seqs, 500000000000, 5000000000000);
  std::vector<int64_t> near_48 = test::factor_primes(seqs, 70368744177664, 281474976710655);
  EXPECT_GE(near_12.size(), 8u);
  EXPECT_GE(near_48.size(), 8u);

  for (const auto& primes : {test::primes_between(3, 20000), near_12, near_48}) {
    const std::vector<factor> want = reference_factors(job, primes);
    EXPECT_EQ(engine_factors(job, primes), want);
    EXPECT_FALSE(want.empty());
  }
}

}  // namespace
}  // namespace veksieve
