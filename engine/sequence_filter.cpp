// Which sequences can have a solution for the current prime: the group
// filter (a quadratic character per k, from a Jacobi symbol table or by
// Euler's criterion) and the power-residue test (per sequence, when the
// index of <2^step> shares a factor above 2 with p - 1, by Euler's criterion
// for all values of the prime at once); then the survivors' start values.
// Every power of 2 comes from the prime's small-power table in one product.
#include <algorithm>
#include <array>
#include <bit>

#include "engine/binary_gcd.hpp"
#include "engine/engine_state.hpp"
#include "engine/power_residue.hpp"
#include "engine/walk_scalar.hpp"

namespace veksieve {

namespace {

// Divisibility by an odd q and exact quotients without a division: x*q^-1
// mod 2^64 is x/q when q divides x, and above (2^64 - 1)/q otherwise.
struct odd_divisor {
  uint64_t inverse = 0;
  uint64_t limit = 0;
};

constexpr auto order_test_divisors = [] {
  std::array<odd_divisor, order_test_prime_count> divisors{};
  for (uint32_t t = 0; t < order_test_prime_count; ++t) {
    const uint64_t q = order_test_primes[t];
    if ((q & 1) == 0) continue;
    uint64_t inverse = q;
    for (int i = 0; i < 5; ++i) inverse *= 2 - q * inverse;
    divisors[t] = {inverse, UINT64_MAX / q};
  }
  return divisors;
}();
static_assert(order_test_primes[0] == 2, "2 is taken by the trailing zeros");

// q^j for each order test prime q, as far as a divisor of p - 1 < 2^62 reaches.
constexpr auto order_test_powers = [] {
  std::array<std::array<uint64_t, 64>, order_test_prime_count> powers{};
  for (uint32_t t = 0; t < order_test_prime_count; ++t) {
    uint64_t power = 1;
    for (uint32_t j = 0; j < 64 && power < (uint64_t{1} << 62); ++j, power *= order_test_primes[t]) powers[t][j] = power;
  }
  return powers;
}();

}  // namespace

// start_value_[i] holds the form of k, formed once per group, until then.
ALWAYS_INLINE void engine_state::activate(size_t i, const prime_modulus& m) {
  active_[i] = 1;
  active_list_.push_back(static_cast<uint32_t>(i));
  start_value_[i] = mulmod_full(start_value_[i], pow2_(static_cast<uint32_t>(residue_[i]), m), m);
}

void engine_state::raise_together(const uint64_t* values, const uint64_t* exponents, size_t count,
                                  const prime_modulus& m, walk_kernel kernel, uint8_t* is_power) {
  power_results_.resize(count);
  uint64_t* results = power_results_.data();
  uint64_t one = residue_one(m);
  if (kernel != walk_kernel::avx512) {
    power_batch(values, exponents, count, m, results);
  } else if (count == 1) {
    // A single value (often the powers of 2 alone) is raised faster by the
    // scalar product, whose latency is lower than the IFMA lanes': back from
    // x*2^52 to x*2^64 with one product.
    const uint64_t value = mulmod_full(values[0], pow2_(12, m), m);
    power_batch(&value, exponents, 1, m, results);
  } else {
    one = lane_factor(kernel, m);  // 2^52 mod p
    power_batch_avx512(values, exponents, count, one, m.p, results);
  }
  for (size_t i = 0; i < count; ++i) is_power[i] = results[i] == one;
}

bool engine_state::mark_active(const prime_modulus& m, walk_kernel kernel) {
  const uint64_t p = m.p;
  for (const uint32_t i : active_list_) active_[i] = 0;
  active_list_.clear();
  pow2_.build(pow2_bound_, m);

  if (p == 3) {
    // The filters' premises need p > 3; only a k that 3 divides is left out.
    for (size_t i = 0; i < count_; ++i) {
      if (k_[i] % 3 == 0) continue;
      start_value_[i] = to_residue(static_cast<uint32_t>(k_[i]), m);
      activate(i, m);
    }
    return !active_list_.empty();
  }

  // Every n of a sequence is e + (multiple of step), so k*2^n = -1 makes
  // -k*2^e a d-th power for every d dividing both step and p - 1. Where
  // every step is a product of the order test primes, gcd(step, p - 1)
  // follows from the valuations of p - 1 below, without a division.
  uint32_t g = 0;
  if (!smooth_steps_) {
    const uint64_t r = (p - 1) % step_lcm_;
    g = r == 0 ? step_lcm_ : static_cast<uint32_t>(binary_gcd(step_lcm_, r));
  }

  // The group filter of every leader. For k = 1 or 2 (mod 3) every candidate
  // n has one parity, so -k (even n) or -2k (odd n), the parity value, must
  // be a square. A multiple of 3 has candidates of both parities, so only
  // p dividing k rules it out. The table answers for p > k; otherwise the
  // value's (p-1)/2-th power must be 1. The values are formed in the form
  // the batch raises them in: for the IFMA lanes x*2^52, the engine's form
  // times 2^52/2^64 (one product, once per k), else the engine's own.
  const bool in_lanes = kernel == walk_kernel::avx512;
  const uint64_t lane_one = lane_factor(kernel, m);
  const auto batch_form = [&](uint64_t x) { return in_lanes ? mulmod_full(x, lane_one, m) : x; };
  group_values_.clear();
  group_leaders_.clear();
  exponents_.clear();
  // The leaders that pass, or whose filter is a power, are listed without a
  // branch on the outcome, which is as good as random.
  uint32_t* const passing = passing_.data();
  size_t passing_count = 0;
  for (const uint32_t i : leaders_) {
    const auto k = static_cast<uint64_t>(k_[i]);
    passing[passing_count] = i;
    if (parity_value_[i] == 0) {
      group_passes_[i] = k < p || k % p != 0;
      passing_count += group_passes_[i];
      continue;
    }
    const auto x = static_cast<uint64_t>(-parity_value_[i]);
    if (character_slot_[i] != quadratic_characters::none && p > k) {
      group_passes_[i] = characters_.is_square(character_slot_[i], p, x != k);
      passing_count += group_passes_[i];
      continue;
    }
    ++passing_count;
    group_values_.push_back(batch_form(to_residue(p - (x < p ? x : x % p), m)));  // p itself is 0: no square
    group_leaders_.push_back(i);
    exponents_.push_back((p - 1) / 2);
  }
  // In the same batch, 2^((p-1)/q^j) for the small q^j that divide p - 1:
  // it is 1 exactly when 2 is a q^j-th power, that is when q^j divides the
  // cofactor c = (p-1) / order of 2. c beyond v(p-1) - v(step) changes no
  // step's degree (below), and whether 2 is a square follows from p mod 8.
  order_lanes_.clear();
  const uint64_t two = reduce_once((in_lanes ? lane_one : residue_one(m)) << 1, p);
  uint32_t p_valuation[order_test_prime_count];
  uint32_t cofactor[order_test_prime_count] = {};  // how far c is known to go at each q
  for (uint32_t t = 0; t < order_test_prime_count; ++t) {
    const uint64_t q = order_test_primes[t];
    const odd_divisor& divisor = order_test_divisors[t];
    if (q == 2) {
      p_valuation[t] = static_cast<uint32_t>(std::countr_zero(p - 1));
    } else {
      p_valuation[t] = 0;
      for (uint64_t x = (p - 1) * divisor.inverse; x <= divisor.limit; x *= divisor.inverse) ++p_valuation[t];
    }
    uint32_t useful = p_valuation[t] - std::min(p_valuation[t], least_step_valuation_[t]);
    if (q == 2) {
      const uint64_t mod8 = p & 7;
      if (mod8 == 3 || mod8 == 5) useful = 0;  // 2 is no square
      cofactor[t] = std::min<uint32_t>(useful, 1);
    }
    uint64_t quotient = p - 1;  // (p-1) / q^j, exact
    uint64_t power = 1;
    for (uint32_t j = 1; j <= useful && power * q <= order_test_max_power; ++j) {
      power *= q;
      quotient = q == 2 ? quotient >> 1 : quotient * divisor.inverse;
      if (j <= cofactor[t]) continue;
      group_values_.push_back(two);
      exponents_.push_back(quotient);
      order_lanes_.push_back(static_cast<uint8_t>(t));
    }
  }
  group_results_.resize(group_values_.size());
  if (!group_values_.empty()) {
    raise_together(group_values_.data(), exponents_.data(), group_values_.size(), m, kernel, group_results_.data());
  }
  for (size_t t = 0; t < group_leaders_.size(); ++t) group_passes_[group_leaders_[t]] = group_results_[t];
  // 2 is a q^c-th power (c = cofactor[t]): then <2> lies in the q^c-th powers.
  for (size_t lane = 0; lane < order_lanes_.size(); ++lane) {
    cofactor[order_lanes_[lane]] += group_results_[group_leaders_.size() + lane];
  }

  // The degree d of a step's test for this prime: a solution makes -k*2^e
  // an element of <2^step>, whose index in the group mod p is c*gcd(o, step)
  // for o the order of 2 and c = (p-1)/o. Its part at q is q^min(v(p-1),
  // v(c) + v(step)); gcd(step, g) has q^min(v(p-1), v(step)), so each q of
  // which 2 is a power adds the difference. Every such d divides p - 1.
  // For a step of order test primes alone, d is their parts.
  const uint64_t stamp = prime_stamp_;
  const auto degree_of = [&](size_t i) -> uint64_t {
    step_degree& sd = step_degrees_[step_slot_[i]];
    if (sd.stamp == stamp) return sd.degree;
    uint64_t d = smooth_steps_ ? 1 : binary_gcd(static_cast<uint32_t>(step_[i]), g);
    for (uint32_t t = 0; t < order_test_prime_count; ++t) {
      const uint32_t with = std::min(p_valuation[t], cofactor[t] + sd.valuation[t]);
      d *= order_test_powers[t][with - (smooth_steps_ ? 0 : std::min<uint32_t>(p_valuation[t], sd.valuation[t]))];
    }
    sd.stamp = stamp;
    sd.degree = d;
    if (d <= INT32_MAX) sd.multiples = divisibility_test(static_cast<uint32_t>(d));
    return d;
  };

  // Then, group by group, the sequences that need a power-residue test are
  // collected, except members whose residue differs from their leader's by a
  // multiple of d, which share the leader's result.
  residue_values_.clear();
  residue_index_.clear();
  exponents_.clear();
  borrowers_.clear();
  uint64_t last_d = 0;
  uint64_t quotient = 0;  // (p-1)/d
  for (size_t j = 0; j < passing_count; ++j) {
    const uint32_t leader = passing[j];
    if (group_passes_[leader] != 1) continue;  // an Euler criterion that failed
    // d is the step's own (degree_of): with g = 3 or 4 and a step that g
    // does not divide, testing for a g-th power would drop true solutions.
    const uint64_t d = degree_of(leader);
    const divisibility_test& multiples = step_degrees_[step_slot_[leader]].multiples;
    const uint64_t k_form = to_residue(static_cast<uint32_t>(k_[leader]), m);
    const size_t end = leader + 1 + static_cast<size_t>(group_size_[leader]);
    if (d <= 2) {
      for (size_t i = leader; i < end; ++i) {
        start_value_[i] = k_form;
        activate(i, m);
      }
      continue;
    }
    if (d != last_d) last_d = d, quotient = (p - 1) / d;
    const uint64_t k_batch = batch_form(k_form);
    for (size_t i = leader; i < end; ++i) {
      start_value_[i] = k_form;
      const int32_t tag = group_tag_[i];
      if (tag > 0 && d <= static_cast<uint64_t>(tag) && multiples.divides(static_cast<uint32_t>(tag))) {
        borrowers_.push_back({static_cast<uint32_t>(i), leader});
        continue;
      }
      const uint64_t a = mulmod_full(k_batch, pow2_(static_cast<uint32_t>(class_exponent_[i]), m), m);
      residue_values_.push_back(a == 0 ? 0 : p - a);
      exponents_.push_back(quotient);
      residue_index_.push_back(static_cast<uint32_t>(i));
    }
  }
  if (residue_values_.empty()) return !active_list_.empty();

  // Then the tests, all d's of the prime in one batch.
  residue_results_.resize(residue_values_.size());
  raise_together(residue_values_.data(), exponents_.data(), residue_values_.size(), m, kernel,
                 residue_results_.data());
  for (size_t t = 0; t < residue_values_.size(); ++t) {
    if (residue_results_[t]) activate(residue_index_[t], m);
  }
  for (const auto& [member, leader_index] : borrowers_) {
    if (active_[leader_index]) activate(member, m);
  }
  return !active_list_.empty();
}

}  // namespace veksieve
