// The filters of one prime. Every power of 2 comes from the prime's
// small-power table in one product. Values raised in a batch are formed in
// the form the batch raises them in: the kernel's lane form where it raises
// powers (the engine's form times the lane factor, one product per k), else
// the engine's own.
#include "engine/sequence_filter.hpp"

#include <algorithm>
#include <array>
#include <bit>

#include "engine/binary_gcd.hpp"
#include "common/odd_inverse.hpp"
#include "engine/power_residue.hpp"

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
    if (q % 2 != 0) divisors[t] = {odd_inverse(q), UINT64_MAX / q};
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

sequence_filter::sequence_filter(const sequence_groups& groups, engine_memory& memory)
    : groups_(groups),
      start_value_(memory.take<uint64_t>(groups.count)),
      active_(memory.take<uint32_t>(groups.count)),
      step_degrees_(groups.slot_steps.size()),
      group_passes_(groups.count),
      passing_(groups.leaders.size()) {}

// k (the -1 form: -k) in the engine's form; 0 when p divides k.
ALWAYS_INLINE uint64_t sequence_filter::k_form(size_t i, const prime_modulus& m) const {
  const uint64_t form = to_residue(static_cast<uint32_t>(groups_.k[i]), m);
  return groups_.negated[i] && form != 0 ? m.p - form : form;
}

// start_value_[i] holds the form of k, formed once per group, until then.
ALWAYS_INLINE void sequence_filter::activate(size_t i, const prime_modulus& m) {
  active_[i] = 1;
  active_list_.push_back(static_cast<uint32_t>(i));
  start_value_[i] = mulmod_full(start_value_[i], pow2_(static_cast<uint32_t>(groups_.residue[i]), m), m);
}

void sequence_filter::raise(const prime_modulus& m, const kernel_backend& kernel) {
  powers_.resize(values_.size());
  if (values_.empty()) return;
  ++batches_raised_;
  powers_raised_ += values_.size();
  if (kernel.raise_powers != nullptr) {
    kernel.raise_powers(values_.data(), exponents_.data(), values_.size(), m, powers_.data());
  } else {
    power_batch(values_.data(), exponents_.data(), values_.size(), m, powers_.data());
  }
}

bool sequence_filter::mark_active(const prime_modulus& m, const kernel_backend& kernel, uint64_t lane_factor) {
  for (const uint32_t i : active_list_) active_[i] = 0;
  active_list_.clear();
  ++prime_stamp_;
  pow2_.build(groups_.pow2_bound, m);
  if (m.p == 3) {
    mark_all_but_multiples_of_3(m);
    return !active_list_.empty();
  }
  // Every n of a sequence is e + (multiple of step), so k*2^n = -1 makes
  // -k*2^e a d-th power for every d dividing both step and p - 1. Where
  // every step is a product of the order test primes, gcd(step, p - 1)
  // follows from the valuations of p - 1, without a division.
  facts_.g = 0;
  if (!groups_.smooth_steps) {
    const uint64_t r = (m.p - 1) % groups_.step_lcm;
    facts_.g = r == 0 ? groups_.step_lcm : static_cast<uint32_t>(binary_gcd(groups_.step_lcm, r));
  }
  const uint64_t lane_one = kernel.raise_powers != nullptr ? lane_factor : residue_one(m);
  group_filter(m, lane_one);
  order_of_two_values(m, lane_one);
  raise_group_batch(m, kernel);
  collect_residue_tests(m, lane_one, m.p >= kernel.members_from_leaders_from);
  if (values_.empty()) return !active_list_.empty();

  // Then the tests, all d's of the prime in one batch; a member's power is
  // its leader's times a small power of 2^((p-1)/d).
  raise(m, kernel);
  for (root_table& root : roots_) root.build(powers_[root.place], m);
  for (const residue_test& test : residue_tests_) {
    uint64_t power = powers_[test.power];
    if (test.offset != 0) power = roots_[test.root].times_power(power, test.offset, m);
    if (power == residue_one(m)) activate(test.sequence, m);
  }
  for (const auto& [member, leader] : borrowers_) {
    if (active_[leader]) activate(member, m);
  }
  return !active_list_.empty();
}

void sequence_filter::mark_all_but_multiples_of_3(const prime_modulus& m) {
  // The filters' premises need p > 3; only a k that 3 divides is left out.
  for (size_t i = 0; i < groups_.count; ++i) {
    if (groups_.k[i] % 3 == 0) continue;
    start_value_[i] = k_form(i, m);
    activate(i, m);
  }
}

// The group filter of every leader. For k = 1 or 2 (mod 3) every candidate
// n has one parity, so -k (even n) or -2k (odd n), the parity value, must be
// a square. A multiple of 3 has candidates of both parities, so only p
// dividing k rules it out. The table answers for p > k; otherwise the
// value's (p-1)/2-th power must be 1, and the value joins the batch.
void sequence_filter::group_filter(const prime_modulus& m, uint64_t lane_one) {
  const uint64_t p = m.p;
  values_.clear();
  exponents_.clear();
  group_leaders_.clear();
  // The leaders that pass, or whose filter is a power, are listed without a
  // branch on the outcome, which is as good as random.
  uint32_t* const passing = passing_.data();
  size_t passing_count = 0;
  for (const uint32_t i : groups_.leaders) {
    const auto k = static_cast<uint64_t>(groups_.k[i]);
    passing[passing_count] = i;
    if (groups_.parity_value[i] == 0) {
      group_passes_[i] = k < p || k % p != 0;
      passing_count += group_passes_[i];
      continue;
    }
    const int64_t parity_value = groups_.parity_value[i];
    const bool negative = parity_value < 0;
    const auto x = static_cast<uint64_t>(negative ? -parity_value : parity_value);
    if (groups_.character_slot[i] != quadratic_characters::none && p > k) {
      group_passes_[i] = groups_.characters.is_square(groups_.character_slot[i], p, x != k, negative);
      passing_count += group_passes_[i];
      continue;
    }
    ++passing_count;
    const uint64_t x_mod_p = x < p ? x : x % p;
    const uint64_t value = to_residue(negative ? p - x_mod_p : x_mod_p, m);  // p itself is 0: no square
    values_.push_back(lane_one == residue_one(m) ? value : mulmod_full(value, lane_one, m));
    group_leaders_.push_back(i);
    exponents_.push_back((p - 1) / 2);
  }
  passing_count_ = passing_count;
}

// In the group batch too, 2^((p-1)/q^j) for the small q^j that divide p - 1:
// it is 1 exactly when 2 is a q^j-th power, that is when q^j divides the
// cofactor c = (p-1) / order of 2. c beyond v(p-1) - v(step) changes no
// step's degree (degree_of), and whether 2 is a square follows from p mod 8.
void sequence_filter::order_of_two_values(const prime_modulus& m, uint64_t lane_one) {
  const uint64_t p = m.p;
  const uint64_t two = reduce_once(lane_one << 1, p);
  order_lanes_.clear();
  for (uint32_t t = 0; t < order_test_prime_count; ++t) {
    const uint64_t q = order_test_primes[t];
    const odd_divisor& divisor = order_test_divisors[t];
    uint32_t& valuation = facts_.valuation[t];
    if (q == 2) {
      valuation = static_cast<uint32_t>(std::countr_zero(p - 1));
    } else {
      valuation = 0;
      for (uint64_t x = (p - 1) * divisor.inverse; x <= divisor.limit; x *= divisor.inverse) ++valuation;
    }
    uint32_t useful = valuation - std::min(valuation, groups_.least_step_valuation[t]);
    facts_.cofactor[t] = 0;
    if (q == 2) {
      const uint64_t mod8 = p & 7;
      if (mod8 == 3 || mod8 == 5) useful = 0;  // 2 is no square
      facts_.cofactor[t] = std::min<uint32_t>(useful, 1);
    }
    uint64_t quotient = p - 1;  // (p-1) / q^j, exact
    uint64_t power = 1;
    for (uint32_t j = 1; j <= useful && power * q <= order_test_max_power; ++j) {
      power *= q;
      quotient = q == 2 ? quotient >> 1 : quotient * divisor.inverse;
      if (j <= facts_.cofactor[t]) continue;
      values_.push_back(two);
      exponents_.push_back(quotient);
      order_lanes_.push_back(static_cast<uint8_t>(t));
    }
  }
}

void sequence_filter::raise_group_batch(const prime_modulus& m, const kernel_backend& kernel) {
  raise(m, kernel);
  const uint64_t one = residue_one(m);
  for (size_t t = 0; t < group_leaders_.size(); ++t) group_passes_[group_leaders_[t]] = powers_[t] == one;
  // 2 is a q^c-th power (c = cofactor[t]): then <2> lies in the q^c-th powers.
  for (size_t lane = 0; lane < order_lanes_.size(); ++lane) {
    facts_.cofactor[order_lanes_[lane]] += powers_[group_leaders_.size() + lane] == one;
  }
}

// (e - leader's e) mod d; the exponents lie below the step, usually below d.
static uint64_t class_offset(int32_t e, int32_t leader_e, uint64_t d) {
  if (e >= leader_e) {
    const auto difference = static_cast<uint64_t>(e - leader_e);
    return difference < d ? difference : difference % d;
  }
  auto below = static_cast<uint64_t>(leader_e - e);
  below = below < d ? below : below % d;
  return below == 0 ? 0 : d - below;
}

// z^j and z^(16j) for the j below 16 that the offsets need: a few products
// per degree, then at most two per member.
void sequence_filter::root_table::build(uint64_t z, const prime_modulus& m) {
  low[0] = high[0] = residue_one(m);
  const uint64_t low_most = std::min<uint64_t>(most_offset, 15);
  for (uint64_t j = 1; j <= low_most; ++j) low[j] = mulmod_full(low[j - 1], z, m);
  if (most_offset < 16) return;
  const uint64_t sixteenth = mulmod_full(low[15], z, m);
  const uint64_t high_most = std::min<uint64_t>(most_offset >> 4, 15);
  for (uint64_t j = 1; j <= high_most; ++j) high[j] = mulmod_full(high[j - 1], sixteenth, m);
}

uint64_t sequence_filter::root_table::times_power(uint64_t x, uint64_t offset, const prime_modulus& m) const {
  x = (offset & 15) != 0 ? mulmod_full(x, low[offset & 15], m) : x;
  return offset >= 16 ? mulmod_full(x, high[offset >> 4], m) : x;
}

// The degree d of a step's test for this prime: a solution makes -k*2^e an
// element of <2^step>, whose index in the group mod p is c*gcd(o, step) for
// o the order of 2 and c = (p-1)/o. Its part at q is q^min(v(p-1), v(c) +
// v(step)); gcd(step, g) has q^min(v(p-1), v(step)), so each q of which 2 is
// a power adds the difference. Every such d divides p - 1. For a step of
// order test primes alone, d is their parts.
uint64_t sequence_filter::degree_of(uint32_t i) {
  const uint32_t slot = groups_.step_slot[i];
  step_degree& sd = step_degrees_[slot];
  if (sd.stamp == prime_stamp_) return sd.degree;
  const bool smooth = groups_.smooth_steps;
  uint64_t d = smooth ? 1 : binary_gcd(static_cast<uint32_t>(groups_.step[i]), facts_.g);
  for (uint32_t t = 0; t < order_test_prime_count; ++t) {
    const uint32_t v_p = facts_.valuation[t], v_step = groups_.step_valuation[slot][t];
    const uint32_t with = std::min(v_p, facts_.cofactor[t] + v_step);
    d *= order_test_powers[t][with - (smooth ? 0 : std::min(v_p, v_step))];
  }
  sd.stamp = prime_stamp_;
  sd.degree = d;
  if (d <= INT32_MAX) sd.multiples = divisibility_test(static_cast<uint32_t>(d));
  return d;
}

// Group by group, the sequences that need a power-residue test, except
// members whose residue differs from their leader's by a multiple of d,
// which share the leader's result. A sequence with d <= 2 needs none. The
// other members need no power of their own: with z = 2^((p-1)/d), whose
// d-th power is 1, (-k*2^e)^((p-1)/d) is the leader's power times z to the
// difference of their class exponents mod d. One z per d joins the batch.
void sequence_filter::collect_residue_tests(const prime_modulus& m, uint64_t lane_one, bool members_from_leaders) {
  const uint64_t p = m.p;
  values_.clear();
  exponents_.clear();
  residue_tests_.clear();
  borrowers_.clear();
  roots_.clear();
  const uint64_t two = reduce_once(lane_one << 1, p);
  uint64_t last_d = 0;
  uint64_t quotient = 0;  // (p-1)/d
  uint32_t root = 0;      // the root table of last_d, or none
  constexpr uint32_t none = UINT32_MAX;
  for (size_t j = 0; j < passing_count_; ++j) {
    const uint32_t leader = passing_[j];
    if (group_passes_[leader] != 1) continue;  // an Euler criterion that failed
    // d is the step's own: with g = 3 or 4 and a step that g does not
    // divide, testing for a g-th power would drop true solutions.
    const uint64_t d = degree_of(leader);
    const divisibility_test& multiples = step_degrees_[groups_.step_slot[leader]].multiples;
    const uint64_t k_form = this->k_form(leader, m);
    const size_t end = leader + 1 + static_cast<size_t>(groups_.group_size[leader]);
    if (d <= 2) {
      for (size_t i = leader; i < end; ++i) {
        start_value_[i] = k_form;
        activate(i, m);
      }
      continue;
    }
    if (d != last_d) {
      last_d = d, quotient = (p - 1) / d, root = none;
      for (size_t r = 0; r < roots_.size(); ++r) {
        if (roots_[r].degree == d) root = static_cast<uint32_t>(r);
      }
    }
    const uint64_t k_batch = lane_one == residue_one(m) ? k_form : mulmod_full(k_form, lane_one, m);
    // -k*2^e of sequence i into the batch, tested by its own power.
    const auto raise_own = [&](size_t i) {
      const uint64_t a = mulmod_full(k_batch, pow2_(static_cast<uint32_t>(groups_.class_exponent[i]), m), m);
      residue_tests_.push_back({static_cast<uint32_t>(i), static_cast<uint32_t>(values_.size()), 0, 0});
      values_.push_back(a == 0 ? 0 : p - a);
      exponents_.push_back(quotient);
    };
    const auto leader_power = static_cast<uint32_t>(values_.size());
    raise_own(leader);
    start_value_[leader] = k_form;
    for (size_t i = leader + 1; i < end; ++i) {
      start_value_[i] = k_form;
      const int32_t tag = groups_.group_tag[i];
      if (d <= static_cast<uint64_t>(tag) && multiples.divides(static_cast<uint32_t>(tag))) {
        borrowers_.push_back({static_cast<uint32_t>(i), leader});
        continue;
      }
      const uint64_t offset = members_from_leaders
                                  ? class_offset(groups_.class_exponent[i], groups_.class_exponent[leader], d)
                                  : root_table::reach;
      if (offset >= root_table::reach) {
        raise_own(i);
        continue;
      }
      if (root == none) {
        root = static_cast<uint32_t>(roots_.size());
        roots_.push_back({d, static_cast<uint32_t>(values_.size()), 0, {}, {}});
        values_.push_back(two);
        exponents_.push_back(quotient);
      }
      roots_[root].most_offset = std::max(roots_[root].most_offset, offset);
      residue_tests_.push_back({static_cast<uint32_t>(i), leader_power, root, offset});
    }
  }
}

}  // namespace veksieve
