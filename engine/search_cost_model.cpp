// The cost model. The filters' odds follow from how gcd(step, p - 1) is
// spread over the primes: for q^a dividing the step exactly, q^j divides
// p - 1 for one prime in phi(q^j), independently for each q. The walk of a
// sequence over one stride is ceil((M - residue) / step) products.
#include "engine/search_cost_model.hpp"

#include <cmath>
#include <map>
#include <tuple>
#include <utility>
#include <vector>

#include "engine/stride_sizing.hpp"

namespace veksieve {

namespace {

// (d, share of primes) for d = gcd(step, p - 1).
std::vector<std::pair<int64_t, double>> gcd_spread(int64_t step) {
  std::vector<std::pair<int64_t, double>> spread{{1, 1.0}};
  for (int64_t q = 2, rest = step; rest > 1; ++q) {
    if (q * q > rest) q = rest;
    if (rest % q != 0) continue;
    int a = 0;
    while (rest % q == 0) rest /= q, ++a;
    // at_least(j): the share of primes with q^j dividing p - 1, 1 / phi(q^j).
    const auto at_least = [q](int j) { return j == 0 ? 1.0 : 1.0 / (std::pow(double(q), j - 1) * double(q - 1)); };
    std::vector<std::pair<int64_t, double>> next;
    int64_t power = 1;
    for (int j = 0; j <= a; ++j, power *= q) {
      const double share = at_least(j) - (j < a ? at_least(j + 1) : 0.0);
      for (const auto& [d, s] : spread) next.emplace_back(d * power, s * share);
    }
    spread = std::move(next);
  }
  return spread;
}

// Whether sequence i starts a group of its own, as the engine groups them:
// adjacent sequences of one k and one step with rising residues share one.
bool starts_group(const sequence_set& s, size_t i, size_t& leader) {
  const bool joins = i > 0 && s.k[i] == s.k[leader] && s.step[i] == s.step[leader] && s.residue[i] > s.residue[i - 1];
  if (!joins) leader = i;
  return !joins;
}

}  // namespace

filter_odds sequence_filter_odds(int64_t k, int64_t step, int64_t tag) {
  // A k that 3 does not divide passes its group symbol for half of the
  // primes; a d-th power test then passes one in d of the residues, or one
  // in d/2 of those already known to be squares when d is even. A member
  // whose residue differs from its leader's by a multiple of d reads the
  // leader's result instead of testing.
  const bool symbol = k % 3 != 0;
  filter_odds odds;
  for (const auto& [d, share] : gcd_spread(step)) {
    const double tested = d > 2 && (tag <= 0 || tag % d != 0) ? 1.0 : 0.0;
    const double pass = d <= 2 ? 1.0 : (symbol && d % 2 == 0 ? 2.0 / double(d) : 1.0 / double(d));
    odds.tested += share * tested * (symbol ? 0.5 : 1.0);
    odds.searched += share * pass * (symbol ? 0.5 : 1.0);
  }
  return odds;
}

expected_work expected_search_work(const sequence_set& s, uint64_t stride, uint64_t table_length) {
  expected_work work;
  work.table_entries = double(table_length);
  std::map<std::tuple<bool, int32_t, int32_t>, filter_odds> known;
  size_t leader = 0;
  for (size_t i = 0; i < s.k.size(); ++i) {
    const bool leads = starts_group(s, i, leader);
    // A group of a k that 3 divides costs one remainder, not a Jacobi symbol.
    if (leads && s.k[i] % 3 != 0) work.groups += 1;
    const int32_t tag = leads ? 0 : s.residue[i] - s.residue[leader];
    const auto key = std::make_tuple(s.k[i] % 3 == 0, s.step[i], tag);
    auto found = known.find(key);
    if (found == known.end()) found = known.emplace(key, sequence_filter_odds(s.k[i], s.step[i], tag)).first;
    const filter_odds odds = found->second;
    const uint64_t residue = static_cast<uint64_t>(s.residue[i]), step = static_cast<uint64_t>(s.step[i]);
    const uint64_t walk = stride > residue ? (stride - residue + step - 1) / step : 0;
    work.residue_tests += odds.tested;
    work.searched_sequences += odds.searched;
    work.walk_steps += odds.searched * double(walk);
  }
  return work;
}

uint32_t modelled_stride(const sequence_set& s, const search_costs& costs) {
  const stride_sizing sizing = plan_stride_search(s, default_alpha);
  if (!sizing.ok()) return 0;
  const uint64_t lcm = sizing.step_lcm, window = sizing.window;

  // Per prime the cost is about c_t * R / M + c_w * M * sum(searched / step):
  // least at M = sqrt(c_t * R / (c_w * sum)). The multiples of L on either
  // side are costed exactly.
  const expected_work unit = expected_search_work(s, lcm, 1);
  const double per_stride = unit.walk_steps / double(lcm) * costs.walk_step;
  const double best = per_stride > 0 ? std::sqrt(costs.table_entry * double(window) / per_stride) : double(window);
  const uint64_t shortest_multiple = (uint64_t{window} / max_table_length + 1 + lcm - 1) / lcm;
  const uint64_t below = std::max<uint64_t>(shortest_multiple, static_cast<uint64_t>(std::min(best, double(window)) / double(lcm)));

  uint32_t chosen = 0;
  double chosen_cost = 0;
  for (const uint64_t multiple : {below, below + 1}) {
    const uint64_t stride = multiple * lcm, table_length = window / stride + 1;
    if (multiple == 0 || uint64_t(s.nmin) + table_length * stride - 1 > UINT32_MAX) continue;
    const double cost = expected_search_work(s, stride, table_length).cost(costs);
    if (chosen == 0 || cost < chosen_cost) chosen = static_cast<uint32_t>(stride), chosen_cost = cost;
  }
  // The default alpha's stride stays unless the model expects a clear gain.
  const double default_cost = expected_search_work(s, sizing.stride, sizing.table_length).cost(costs);
  if (chosen == 0 || chosen_cost > (1 - model_least_gain) * default_cost) chosen = sizing.stride;
  return chosen;
}

double modelled_alpha(const sequence_set& s, const search_costs& costs) {
  const uint32_t stride = modelled_stride(s, costs);
  if (stride == 0) return default_alpha;
  // sqrt(2 * alpha * R) = M + 1/2 makes the root M, and M is a multiple of L.
  const double window = double(int64_t{s.nmax} + 1 - s.nmin);
  const double alpha = (double(stride) + 0.5) * (double(stride) + 0.5) / (2 * window);
  const stride_sizing check = plan_stride_search(s, alpha);
  return check.ok() && check.stride == stride ? alpha : default_alpha;
}

}  // namespace veksieve
