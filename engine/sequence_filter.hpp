// Which sequences can have a solution for the current prime, and their start
// values: the group filter (a quadratic character per k, from a Jacobi symbol
// table or by Euler's criterion), then the power-residue test of every
// sequence whose step shares a factor above 2 with p - 1 (or with the part
// of p - 1 by which 2 is a power), all values of the prime in one batch.
#pragma once

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "engine/divisibility_test.hpp"
#include "engine/kernels/kernel_backend.hpp"
#include "engine/modular_powers.hpp"
#include "engine/sequence_groups.hpp"

namespace veksieve {

class sequence_filter {
 public:
  sequence_filter(const sequence_groups& groups, engine_memory& memory);

  // Marks the sequences that can have a solution for the odd prime p of `m`
  // and forms their start values k*2^residue (-k*2^residue for the -1
  // form); false when none can. The
  // batches run in `kernel`'s lanes where it raises powers, on values times
  // `lane_factor` (the kernel's, for m).
  bool mark_active(const prime_modulus& m, const kernel_backend& kernel, uint64_t lane_factor);

  // The active sequences, in the order they were found, and their start values.
  std::span<const uint32_t> active() const { return active_list_; }
  uint64_t start_value(uint32_t i) const { return start_value_[i]; }
  // The batches of powers raised so far, and the values in them.
  uint64_t batches_raised() const { return batches_raised_; }
  uint64_t powers_raised() const { return powers_raised_; }
  // 2^e for the current prime.
  uint64_t pow2(uint32_t e, const prime_modulus& m) const { return pow2_(e, m); }

 private:
  // The parts of the current prime the tests use.
  struct prime_facts {
    uint32_t g = 0;                                      // gcd(step lcm, p - 1), unless the steps are smooth
    uint32_t valuation[order_test_prime_count] = {};     // of p - 1 at each order test prime
    uint32_t cofactor[order_test_prime_count] = {};      // how far 2 is known to be a q^c-th power
  };

  uint64_t k_form(size_t i, const prime_modulus& m) const;
  void activate(size_t i, const prime_modulus& m);
  void mark_all_but_multiples_of_3(const prime_modulus& m);
  void group_filter(const prime_modulus& m, uint64_t lane_one);
  void order_of_two_values(const prime_modulus& m, uint64_t lane_one);
  void raise_group_batch(const prime_modulus& m, const kernel_backend& kernel);
  uint64_t degree_of(uint32_t i);
  void collect_residue_tests(const prime_modulus& m, uint64_t lane_one, bool members_from_leaders);
  void raise(const prime_modulus& m, const kernel_backend& kernel);

  const sequence_groups& groups_;
  uint64_t* start_value_;  // k * 2^residue mod p for active sequences (the form of k before)
  uint32_t* active_;       // 1 when searched for the current prime
  std::vector<uint32_t> active_list_;
  pow2_table pow2_;        // the current prime's 2^e for every e below the largest step
  uint64_t prime_stamp_ = 0;  // advanced as each prime starts: marks what was formed for it
  prime_facts facts_;
  uint64_t batches_raised_ = 0;
  uint64_t powers_raised_ = 0;

  struct step_degree {
    uint64_t stamp = 0;           // prime count when `degree` was formed
    uint64_t degree = 0;          // d of the power-residue test for the prime
    divisibility_test multiples;  // by d, when d < 2^31
  };
  std::vector<step_degree> step_degrees_;  // per step slot

  // The batches: values in the batch's form, their exponents and results.
  std::vector<uint8_t> group_passes_;  // for leaders: the group may have a solution
  std::vector<uint32_t> passing_;      // the leaders left after the group filter
  size_t passing_count_ = 0;
  std::vector<uint64_t> values_;
  std::vector<uint64_t> exponents_;
  std::vector<uint64_t> powers_;  // in the engine's form
  std::vector<uint32_t> group_leaders_;  // the leaders raised by Euler's criterion
  std::vector<uint8_t> order_lanes_;     // the order test prime of each value of 2
  // A power-residue test: the sequence passes when the power at `power`
  // times z^offset, for the z of roots_[root], is 1.
  struct residue_test {
    uint32_t sequence;
    uint32_t power;
    uint32_t root;
    uint64_t offset;
  };
  // z = 2^((p-1)/d) of one degree d (its place in the batch) and its powers
  // below z^reach; a member further from its leader is raised itself.
  struct root_table {
    static constexpr uint64_t reach = 256;
    uint64_t degree;
    uint32_t place;
    uint64_t most_offset = 0;  // the largest offset the tests need
    uint64_t low[16];          // z^j
    uint64_t high[16];         // z^(16j)
    void build(uint64_t z, const prime_modulus& m);
    uint64_t times_power(uint64_t x, uint64_t offset, const prime_modulus& m) const;
  };
  std::vector<residue_test> residue_tests_;
  std::vector<root_table> roots_;
  std::vector<std::pair<uint32_t, uint32_t>> borrowers_;  // (member, leader) sharing a result
};

}  // namespace veksieve
