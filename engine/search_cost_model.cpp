// The cost model. The filters' odds follow from how the test degree d is
// spread over the primes: gcd(step, p - 1), raised where 2 is a power of a
// small prime (engine/sequence_filter.cpp), independently at each prime q. The walk of a
// sequence over one stride is ceil((M - residue) / step) products.
#include "engine/search_cost_model.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>
#include <utility>

#include "engine/stride_sizing.hpp"

namespace veksieve {

namespace {

// The spread of the test degree's part at one prime q, q^x with x =
// min(v, c + a) for v = v_q(p - 1) (q^j divides p - 1 for one prime in
// phi(q^j)), a = v_q(step) and c how far 2 is a q-th power, as far as the
// engine looks (q^c dividing (p - 1) / order of 2 for about one prime in q^c,
// given c <= v; 0 for q outside the order test primes).
struct part_spread {
  std::array<double, 48> share{};  // of x; a <= 30 and the look <= 8 keep x below 40
  int top = 0;                     // the largest x with a share
};

part_spread spread_at(int64_t q, int a, int order_cap) {
  // Beyond v = a + order_cap (and v = 2, where the character of 2 settles)
  // the part no longer depends on v: those v are taken together.
  const int last = std::max(a + order_cap, 2) + 1;
  part_spread spread;
  spread.top = last;
  std::array<double, 10> one_in{};  // q^-i for the look's i
  one_in[0] = 1;
  const double q_inverse = 1 / double(q);
  for (size_t i = 1; i < one_in.size(); ++i) one_in[i] = one_in[i - 1] * q_inverse;
  double at_least_v = 1;  // the share of primes with q^v dividing p - 1
  for (int v = 0; v <= last; ++v) {
    const double at_least_next = v == 0 ? 1 / double(q - 1) : at_least_v * q_inverse;
    const double share_v = v < last ? at_least_v - at_least_next : at_least_v;
    at_least_v = at_least_next;
    const int top = std::min(v, order_cap);
    // P(c >= i): 1 in q^i; but 2 is a square exactly for p = +-1 (mod 8),
    // that is for v = 1 half the time, for v = 2 never, for v >= 3 always.
    const auto c_at_least = [&](int i) {
      if (i == 0) return 1.0;
      if (i > top) return 0.0;
      if (q != 2) return one_in[static_cast<size_t>(i)];
      return v == 1 ? 0.5 : v == 2 ? 0.0 : 2 * one_in[static_cast<size_t>(i)];
    };
    for (int c = 0; c <= top; ++c) {
      spread.share[static_cast<size_t>(std::min(v, c + a))] += share_v * (c_at_least(c) - c_at_least(c + 1));
    }
  }
  return spread;
}

}  // namespace

filter_odds sequence_filter_odds(int64_t k, int64_t step, int64_t tag) {
  // A k that 3 does not divide passes its group symbol for half of the
  // primes; a d-th power test then passes one in d of the residues, or one
  // in d/2 of those already known to be squares when d is even. A member
  // whose residue differs from its leader's by a multiple of d reads the
  // leader's result instead of testing. The parts of d at distinct primes
  // are taken as independent, so each odds is a product over them.
  const bool symbol = k % 3 != 0;
  // The order test primes, then the step's other primes (at most nine below 2^31).
  std::array<int64_t, order_test_prime_count + 9> primes{};
  size_t prime_count = 0;
  for (const uint32_t q : order_test_primes) primes[prime_count++] = q;
  for (int64_t q = 2, rest = step; rest > 1; ++q) {
    if (q * q > rest) q = rest;
    if (rest % q != 0) continue;
    while (rest % q == 0) rest /= q;
    if (std::find(primes.begin(), primes.begin() + prime_count, q) == primes.begin() + prime_count) {
      primes[prime_count++] = q;
    }
  }
  double inverse = 1, odd_one = 1, divides_tag = 1;
  double two_inverse = 1, two_is_two = 0, two_up_to_two = 0, two_halved = 0, two_small_divides_tag = 0;
  for (size_t t = 0; t < prime_count; ++t) {
    const int64_t q = primes[t];
    int a = 0;
    for (int64_t rest = step; rest % q == 0; rest /= q) ++a;
    int tag_valuation = 0;
    for (int64_t rest = tag; rest > 0 && rest % q == 0; rest /= q) ++tag_valuation;
    int order_cap = 0;
    if (t < order_test_prime_count) {
      for (uint64_t power = uint64_t(q); power <= order_test_max_power; power *= uint64_t(q)) ++order_cap;
    }
    const part_spread spread = spread_at(q, a, order_cap);
    double part_inverse = 0, part_divides_tag = 0, scale = 1;
    const double q_inverse = 1 / double(q);
    for (size_t x = 0; x <= size_t(spread.top); ++x, scale *= q_inverse) {
      part_inverse += spread.share[x] * scale;
      if (tag > 0 && x <= size_t(tag_valuation)) part_divides_tag += spread.share[x];
    }
    inverse *= part_inverse;
    divides_tag *= part_divides_tag;
    if (q == 2) {
      two_inverse = part_inverse;
      two_is_two = spread.share[1];
      two_up_to_two = spread.share[0] + spread.share[1];
      two_halved = spread.share[0] + 2 * (part_inverse - spread.share[0]);
      two_small_divides_tag = tag > 0 ? spread.share[0] + (tag_valuation >= 1 ? spread.share[1] : 0) : 0;
    } else {
      odd_one *= spread.share[0];
    }
  }
  // d <= 2 is not tested, and passes: 1 in place of 1/2 at d = 2.
  const double up_to_two = two_up_to_two * odd_one;
  const double borrowed = tag > 0 ? divides_tag - two_small_divides_tag * odd_one : 0;
  filter_odds odds;
  odds.tested = (1 - up_to_two - borrowed) * (symbol ? 0.5 : 1.0);
  odds.searched = symbol ? 0.5 * two_halved * inverse / two_inverse : inverse + 0.5 * two_is_two * odd_one;
  return odds;
}

expected_work search_cost_model::expected_work_of(const sequence_set& s, uint64_t stride, uint64_t table_length) {
  expected_work work;
  work.table_entries = double(table_length);
  size_t leader = 0;
  for (size_t i = 0; i < s.k.size(); ++i) {
    const bool leads = !joins_group(s, i, leader);
    if (leads) leader = i;
    // A group of a k that 3 divides costs one remainder, not a Jacobi symbol.
    if (leads && s.k[i] % 3 != 0) work.groups += 1;
    // The odds depend on k only through 3 dividing it.
    const int32_t tag = leads ? 0 : s.residue[i] - s.residue[leader];
    const auto key = std::make_tuple(s.k[i] % 3 == 0, s.step[i], tag);
    auto found = known_.find(key);
    if (found == known_.end()) found = known_.emplace(key, sequence_filter_odds(s.k[i], s.step[i], tag)).first;
    const filter_odds odds = found->second;
    work.residue_tests += odds.tested;
    work.searched_sequences += odds.searched;
    work.walk_steps += odds.searched * double(walk_length(stride, s.residue[i], s.step[i]));
  }
  return work;
}

uint32_t search_cost_model::modelled_stride(const sequence_set& s) {
  const search_costs& costs = costs_;
  const stride_sizing sizing = plan_stride_search(s, default_alpha);
  if (!sizing.ok()) return 0;
  const uint64_t lcm = sizing.step_lcm, window = sizing.window;

  // Per prime the cost is about c_t * R / M + c_w * M * sum(searched / step):
  // least at M = sqrt(c_t * R / (c_w * sum)). The multiples of L on either
  // side are costed exactly.
  const expected_work unit = expected_work_of(s, lcm, 1);
  const double per_stride = unit.walk_steps / double(lcm) * costs.walk_step;
  const double best = per_stride > 0 ? std::sqrt(costs.table_entry * double(window) / per_stride) : double(window);
  const uint64_t shortest_multiple = (uint64_t{window} / max_table_length + 1 + lcm - 1) / lcm;
  const uint64_t below = std::max<uint64_t>(shortest_multiple, static_cast<uint64_t>(std::min(best, double(window)) / double(lcm)));

  uint32_t chosen = 0;
  double chosen_cost = 0;
  for (const uint64_t multiple : {below, below + 1}) {
    const uint64_t stride = multiple * lcm, table_length = window / stride + 1;
    if (multiple == 0 || uint64_t(s.nmin) + table_length * stride - 1 > UINT32_MAX) continue;
    const double cost = this->cost(s, stride, table_length);
    if (chosen == 0 || cost < chosen_cost) chosen = static_cast<uint32_t>(stride), chosen_cost = cost;
  }
  // The default alpha's stride stays unless the model expects a clear gain.
  const double default_cost = cost(s, sizing.stride, sizing.table_length);
  if (chosen == 0 || chosen_cost > (1 - model_least_gain) * default_cost) chosen = sizing.stride;
  return chosen;
}

double search_cost_model::modelled_alpha(const sequence_set& s) {
  const uint32_t stride = modelled_stride(s);
  if (stride == 0) return default_alpha;
  // sqrt(2 * alpha * R) = M + 1/2 makes the root M, and M is a multiple of L.
  const double window = double(int64_t{s.nmax} + 1 - s.nmin);
  const double alpha = (double(stride) + 0.5) * (double(stride) + 0.5) / (2 * window);
  const stride_sizing check = plan_stride_search(s, alpha);
  return check.ok() && check.stride == stride ? alpha : default_alpha;
}

}  // namespace veksieve
