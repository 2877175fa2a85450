// Planning the search. Each k chooses the cheapest period dividing the bound
// at the modelled stride, twice, as the stride moves with the splits.
#include "engine/search_plan.hpp"

#include <utility>

namespace veksieve {

namespace {

// The classes modulo each candidate period P = lcm(step, d), d dividing
// class_period_base, that the n's of the k occupy. Only a step dividing the
// base is considered: any other is a k with few n's, where a split saves
// nothing.
std::vector<planned_k> class_options(const planned_k& entry) {
  std::vector<planned_k> options;
  if (entry.occupied.empty() || class_period_base % entry.step != 0) return options;
  for (int32_t period = entry.step * 2; period <= class_period_base; period += entry.step) {
    if (class_period_base % period != 0) continue;
    planned_k option{entry.k, period, 0, {}, {}, entry.c};
    std::vector<bool> present(static_cast<size_t>(period));
    for (int32_t c = 0; c < class_period_base; ++c)
      if (entry.occupied[static_cast<size_t>(c)]) present[static_cast<size_t>(c % period)] = true;
    for (int32_t c = 0; c < period; ++c)
      if (present[static_cast<size_t>(c)]) option.classes.push_back(c);
    options.push_back(std::move(option));
  }
  return options;
}

// The sequences of the k's as they stand.
search_plan as_plan(const std::vector<planned_k>& ks, int32_t nmin, int32_t nmax) {
  search_plan plan{nmin, nmax, {}, {}, {}, {}, default_alpha, {}};
  for (size_t i = 0; i < ks.size(); ++i) {
    const auto add = [&](int32_t residue) {
      plan.k.push_back(ks[i].k);
      plan.residue.push_back(residue);
      plan.step.push_back(ks[i].step);
      plan.source.push_back(static_cast<uint32_t>(i));
      plan.c.push_back(ks[i].c);
    };
    if (ks[i].classes.empty()) add(ks[i].residue);
    for (const int32_t c : ks[i].classes) add(c);
  }
  return plan;
}

class class_split {
 public:
  class_split(const std::vector<planned_k>& ks, int32_t nmin, int32_t nmax, const search_costs& costs)
      : ks_(ks), nmin_(nmin), nmax_(nmax), model_(costs) {}

  double cost(const std::vector<planned_k>& ks, uint32_t stride) {
    const uint64_t table_length = uint64_t(int64_t{nmax_} - nmin_) / stride + 1;
    return model_.cost(as_plan(ks, nmin_, nmax_).sequences(), stride, table_length);
  }
  uint32_t stride(const std::vector<planned_k>& ks) {
    return model_.modelled_stride(as_plan(ks, nmin_, nmax_).sequences());
  }
  double alpha(const search_plan& plan) { return model_.modelled_alpha(plan.sequences()); }

  // The cheapest split, or the k's as they are.
  std::vector<planned_k> cheapest() {
    std::vector<std::vector<planned_k>> options(ks_.size());
    bool any = false;
    for (size_t i = 0; i < ks_.size(); ++i) {
      options[i] = class_options(ks_[i]);
      any = any || !options[i].empty();
    }
    const uint32_t unsplit_stride = any ? stride(ks_) : 0;
    if (unsplit_stride == 0) return ks_;
    double best_cost = cost(ks_, unsplit_stride);
    std::vector<planned_k> best = ks_;
    for (int32_t bound = 2; bound <= class_period_base; ++bound) {
      if (class_period_base % bound != 0) continue;
      std::vector<planned_k> chosen = ks_;
      uint32_t stride = unsplit_stride;
      for (int round = 0; round < 2 && stride != 0; ++round) {
        for (size_t i = 0; i < ks_.size(); ++i) chosen[i] = cheapest_option(ks_[i], options[i], bound, stride);
        stride = this->stride(chosen);
      }
      if (stride == 0) continue;
      const double cost = this->cost(chosen, stride);
      if (cost < best_cost) best_cost = cost, best = std::move(chosen);
    }
    return best;
  }

 private:
  planned_k cheapest_option(const planned_k& k, const std::vector<planned_k>& options, int32_t bound,
                            uint32_t stride) {
    planned_k chosen = k;
    double least = cost({k}, stride);
    for (const planned_k& option : options) {
      if (bound % option.step != 0) continue;
      const double cost = this->cost({option}, stride);
      if (cost < least) least = cost, chosen = option;
    }
    return chosen;
  }

  const std::vector<planned_k>& ks_;
  int32_t nmin_, nmax_;
  search_cost_model model_;
};

}  // namespace

search_plan plan_search(const std::vector<planned_k>& ks, int32_t nmin, int32_t nmax, const search_costs& costs) {
  class_split split(ks, nmin, nmax, costs);
  search_plan plan = as_plan(split.cheapest(), nmin, nmax);
  plan.alpha = split.alpha(plan);
  return plan;
}

}  // namespace veksieve
