// The search plan of a sequence file: which k's are split into residue
// classes, and the alpha whose stride the cost model finds cheapest. The cost
// model's one caller.
#pragma once

#include <cstdint>
#include <vector>

#include "common/config.hpp"
#include "engine/search_cost_model.hpp"
#include "engine/sequence_set.hpp"

namespace veksieve {

// One k as the sequence file gives it.
struct planned_k {
  int32_t k = 0;
  int32_t step = 1;
  int32_t residue = 0;           // its one residue modulo step, when `classes` is empty
  std::vector<int32_t> classes;  // else one sequence for each of these residues
  // For a k that may be split further (its n's in one class of a step that
  // divides class_period_base): which classes modulo class_period_base its
  // n's occupy. Empty: kept as it is.
  std::vector<bool> occupied;
  int8_t c = 1;  // k*2^n+c: +1 or -1
};

// The sequences to sieve, adjacent ones of a split k in rising residues.
struct search_plan {
  int32_t nmin = 0;
  int32_t nmax = 0;
  std::vector<int32_t> k, residue, step;
  std::vector<uint32_t> source;  // the planned_k each sequence came from
  double alpha = default_alpha;  // the modelled alpha of these sequences
  std::vector<int8_t> c;         // each sequence's form, +1 or -1

  sequence_set sequences() const { return {nmin, nmax, k, residue, step, c}; }
};

// Splits a k that may be split into the classes of the period the cost model
// finds cheapest, where that beats the table without splits, and models the
// alpha. The periods are tried under a common bound Q (each divisor of the
// base in turn), since the stride must be a multiple of every period.
search_plan plan_search(const std::vector<planned_k>& ks, int32_t nmin, int32_t nmax,
                        const search_costs& costs = {});

}  // namespace veksieve
