// The cost model: its filter odds against the filters' decisions counted
// over real primes (Euler's criterion by square-and-multiply), its stride
// against a brute-force search over the multiples of L, and its alpha giving
// that stride through the sizing.
#include "engine/search_cost_model.hpp"

#include <gtest/gtest.h>

#include <numeric>

#include "engine/stride_sizing.hpp"
#include "engine_test_support.hpp"

namespace veksieve {
namespace {

using test::pow_ref;
using test::sequences;

// Whether the engine's filters let sequence (k, step, class exponent e) be
// searched for p, decided from their definition: -k or -2k a square for the
// k's parity, and -k*2^e a d-th power for d = gcd(step, p - 1) > 2, times
// q^(min(v, c + a) - min(v, a)) for each order test prime q where 2 is a
// q^c-th power (q^c <= the bound), v = v_q(p - 1) and a = v_q(step).
bool searched(int64_t k, int64_t step, int64_t e, uint64_t p, bool& tested) {
  const uint64_t uk = static_cast<uint64_t>(k) % p;
  tested = false;
  if (k % 3 != 0) {
    const uint64_t parity_value = (p - (k % 3) * uk % p) % p;
    if (pow_ref(parity_value, (p - 1) / 2, p) != 1) return false;
  }
  uint64_t d = std::gcd(static_cast<uint64_t>(step), p - 1);
  for (const uint64_t q : order_test_primes) {
    int v = 0, a = 0, c = 0;
    for (uint64_t rest = p - 1; rest % q == 0; rest /= q) ++v;
    for (uint64_t rest = static_cast<uint64_t>(step); rest % q == 0; rest /= q) ++a;
    for (uint64_t power = q; c < v && power <= order_test_max_power && pow_ref(2, (p - 1) / power, p) == 1;
         power *= q) {
      ++c;
    }
    for (int j = std::min(v, a); j < std::min(v, c + a); ++j) d *= q;
  }
  if (d <= 2) return true;
  tested = true;
  const uint64_t value = p - test::mul_ref(uk, pow_ref(2, static_cast<uint64_t>(e), p), p);
  return pow_ref(value, (p - 1) / d, p) == 1;
}

TEST(search_cost_model, filter_odds_match_the_filters_over_real_primes) {
  const std::vector<int64_t> primes = test::primes_between(1000000, 3000000);
  // Each class keeps its k's parity, as a sequence file's do. The model takes
  // the parts of d at distinct primes as independent; a k of 3 times a
  // square (27) would tie its squares to p mod 3.
  struct sequence_case {
    int64_t k, step, e;
  };
  for (const sequence_case c : {sequence_case{1915, 2, 0}, {7747, 4, 2}, {20983, 12, 4}, {1915, 720, 302},
                                {33, 2, 1}, {33, 4, 3}, {51, 45, 7}, {99989, 360, 11}}) {
    double tested_count = 0, searched_count = 0;
    for (const int64_t p : primes) {
      bool tested = false;
      searched_count += searched(c.k, c.step, c.e, static_cast<uint64_t>(p), tested);
      tested_count += tested;
    }
    const filter_odds odds = sequence_filter_odds(c.k, c.step);
    const double n = double(primes.size());
    EXPECT_NEAR(odds.tested, tested_count / n, 0.01) << "k=" << c.k << " step " << c.step;
    EXPECT_NEAR(odds.searched, searched_count / n, 0.01) << "k=" << c.k << " step " << c.step;
  }
}

TEST(search_cost_model, stride_is_the_cheapest_multiple_and_alpha_gives_it) {
  std::vector<sequences> sets{
      sequences(100000, 2000000, {{1915, 0, 2}, {7747, 1, 4}, {16565, 0, 2}, {20983, 1, 12}, {27, 0, 2}}),
      sequences(1000000, 50000000, {{4847, 1, 120}, {4847, 7, 120}, {10223, 3, 96}, {19249, 0, 720}, {21181, 5, 264}}),
      sequences(2, 1000, {{5, 1, 2}}),
  };
  sequences many(2, 20000000, {});  // the table's 16-bit indices bind
  for (int32_t k = 5; many.k.size() < 2000; k += 6) many.add({k, 1, 2});
  sets.push_back(many);
  for (const sequences& s : sets) {
    const search_costs costs;
    search_cost_model model(costs);
    const uint32_t stride = model.modelled_stride(s.view());
    const stride_sizing base = plan_stride_search(s.view(), default_alpha);
    ASSERT_TRUE(base.ok());
    const auto cost = [&](uint64_t m) { return model.cost(s.view(), m, base.window / m + 1); };
    uint64_t cheapest = 0;
    for (uint64_t m = base.step_lcm; m <= 4 * uint64_t{stride}; m += base.step_lcm) {
      if (base.window / m + 1 > max_table_length) continue;
      if (cheapest == 0 || cost(m) < cost(cheapest)) cheapest = m;
    }
    // Ceilings and floors make the cost a little uneven near its least; the
    // default stride stays when the least is not clearly below it.
    if (stride == base.stride) {
      EXPECT_LE(cost(cheapest), cost(stride)) << "window " << base.window;
      EXPECT_GE(cost(cheapest), (1 - model_least_gain) * cost(stride) * (1 - 1e-4)) << "window " << base.window;
    } else {
      EXPECT_NEAR(cost(stride), cost(cheapest), 1e-4 * cost(cheapest)) << "window " << base.window;
    }
    EXPECT_EQ(plan_stride_search(s.view(), model.modelled_alpha(s.view())).stride, stride);
  }
}

}  // namespace
}  // namespace veksieve
