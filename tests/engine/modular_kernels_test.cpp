// Powers of 2 and 1/2, the small-power table, the batched powers of the filters
// and the group filter's table-driven quadratic character against
// square-and-multiply in 128-bit arithmetic; the filters' divisibility test
// against the remainder.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "engine/divisibility_test.hpp"
#include "engine/modular_powers.hpp"
#include "engine/power_residue.hpp"
#include "engine/quadratic_character.hpp"
#include "engine_test_support.hpp"
#include <primesieve.hpp>

namespace veksieve {
namespace {

using test::mul_ref;
using test::pow_ref;

// A spread of primes: small ones, around 2^32, near 10^12, below 2^48 and,
// where the product reaches them, near 2^56 and below 2^62.
std::vector<uint64_t> sample_primes() {
  std::vector<uint64_t> primes;
  primesieve::generate_primes(uint64_t{3}, uint64_t{400}, &primes);
  primesieve::generate_n_primes(20, uint64_t{4294967000}, &primes);
  primesieve::generate_n_primes(20, uint64_t{1000000000000}, &primes);
  primesieve::generate_n_primes(20, uint64_t{281474976700000}, &primes);
  if (product_max_prime >= (uint64_t{1} << 62) - 1) {
    for (const uint64_t p : test::primes_from(uint64_t{1} << 56, 10)) primes.push_back(p);
    for (const uint64_t p : test::primes_from((uint64_t{1} << 62) - 2000, 100)) {
      if (p < uint64_t{1} << 62) primes.push_back(p);
    }
  }
  return primes;
}

TEST(modular_powers, match_square_and_multiply) {
  const uint64_t seed = 7;
  std::printf("modular_powers random seed %llu\n", static_cast<unsigned long long>(seed));
  std::mt19937_64 random(seed);
  std::uniform_int_distribution<uint32_t> exponent(2, 60000000);
  for (const uint64_t p : sample_primes()) {
    const prime_modulus m = make_modulus(p);
    std::vector<uint32_t> exponents = {0, 1, 2, 3, 4, 31, 32, 33, 1000000, 0x7FFFFFFF};
    for (int i = 0; i < 30; ++i) exponents.push_back(exponent(random));
    for (const uint32_t e : exponents) {
      if (e == 0) continue;
      const uint64_t v = pow2_mod(e, m);
      EXPECT_LT(v, p);
      EXPECT_EQ(from_residue(v, m), pow_ref(2, e, p)) << "e=" << e << " p=" << p;
      const uint64_t half = pow_half_mod(e, m);
      EXPECT_LT(half, p);
      EXPECT_EQ(mul_ref(from_residue(half, m), pow_ref(2, e, p), p), 1u) << "e=" << e << " p=" << p;
    }
    EXPECT_EQ(from_residue(pow_half_mod(1, m), m), (p + 1) / 2);
    EXPECT_EQ(from_residue(pow_half_mod(0, m), m), 1u);
  }
}

TEST(modular_powers, small_power_table_below_and_beyond_its_bound) {
  for (const uint64_t p : sample_primes()) {
    const prime_modulus m = make_modulus(p);
    pow2_table table;
    for (const uint32_t bound : {1u, 13u, 64u, 721u, pow2_table_bound}) {
      table.build(bound, m);
      for (const uint32_t e : {0u, 1u, 12u, 63u, 64u, 65u, 127u, 719u, 720u, 4095u, 4096u, 100000u}) {
        const uint64_t v = table(e, m);
        EXPECT_LT(v, p);
        EXPECT_EQ(from_residue(v, m), pow_ref(2, e, p)) << "e=" << e << " bound=" << bound << " p=" << p;
      }
    }
  }
}

// The table-driven quadratic character of -k and -2k against Euler's
// criterion, for odd k with repeated and odd-power prime factors.
TEST(quadratic_characters, match_euler_criterion) {
  quadratic_characters characters;
  const uint32_t ks[] = {1, 5, 7, 9, 25, 45, 4847, 19249, 67607, 99989, 3 * 3 * 3 * 5 * 7 * 7, 1048573};
  std::vector<uint32_t> slots;
  for (const uint32_t k : ks) slots.push_back(characters.add(k));
  EXPECT_EQ(characters.add(4), quadratic_characters::none);
  std::vector<uint64_t> primes;
  primesieve::generate_primes(uint64_t{1048577}, uint64_t{1060000}, &primes);
  primesieve::generate_n_primes(300, uint64_t{1000000000000}, &primes);
  primesieve::generate_n_primes(100, uint64_t{281474976700000}, &primes);
  for (const uint64_t p : test::primes_from((uint64_t{1} << 62) - 20000, 50)) primes.push_back(p);
  for (const uint64_t p : primes) {
    for (size_t i = 0; i < std::size(ks); ++i) {
      ASSERT_NE(slots[i], quadratic_characters::none);
      for (const bool doubled : {false, true}) {
        const uint64_t x = doubled ? 2 * uint64_t{ks[i]} : ks[i];
        const bool want = pow_ref(p - x % p, (p - 1) / 2, p) == 1;
        EXPECT_EQ(characters.is_square(slots[i], p, doubled), want) << "k=" << ks[i] << " doubled=" << doubled
                                                                    << " p=" << p;
      }
    }
  }
}

TEST(divisibility_test, matches_remainder) {
  // Every d below 2^12 (odd, even, powers of 2) and a few up to 2^31 - 1,
  // against every x below 2^13 and x near multiples and near 2^31.
  std::vector<uint32_t> divisors;
  for (uint32_t d = 1; d < 4096; ++d) divisors.push_back(d);
  for (const uint32_t d : {65536u, 100000u, 1u << 30, 3u << 29, 2147483647u}) divisors.push_back(d);
  for (const uint32_t d : divisors) {
    const divisibility_test test(d);
    const auto check = [&](uint32_t x) { ASSERT_EQ(test.divides(x), x % d == 0) << "x=" << x << " d=" << d; };
    for (uint32_t x = 0; x < 8192; ++x) check(x);
    for (uint32_t x = 2147483647u; x > 2147483647u - 64; --x) check(x);
    for (const uint64_t multiple : {uint64_t{d} * 3, uint64_t{d} * 1000, uint64_t{d} * 65537}) {
      if (multiple + 1 <= INT32_MAX) {
        check(static_cast<uint32_t>(multiple) - 1);
        check(static_cast<uint32_t>(multiple));
        check(static_cast<uint32_t>(multiple) + 1);
      }
    }
  }
}

TEST(power_batch, matches_direct_power) {
  // Small primes, primes below 2^48, around 2^50 (where the IFMA batch stops
  // being lazy) and, where the product reaches them, below 2^62; each
  // prime's values in one batch (60, more than one IFMA pass), raised to
  // (p-1)/d for the d's that divide p - 1 and to small exponents.
  std::vector<uint64_t> primes;
  primesieve::generate_n_primes(300, uint64_t{3}, &primes);
  primesieve::generate_n_primes(100, uint64_t{281474976000000}, &primes);
  for (const uint64_t p : test::primes_from((uint64_t{1} << 50) - 3000, 40)) primes.push_back(p);
  if (product_max_prime >= (uint64_t{1} << 62) - 1) {
    for (const uint64_t p : test::primes_from((uint64_t{1} << 52) - 3000, 40)) primes.push_back(p);
    for (const uint64_t p : test::primes_from((uint64_t{1} << 62) - 20000, 100)) {
      if (p < uint64_t{1} << 62) primes.push_back(p);
    }
  }
  const uint32_t ks[] = {1, 5, 4847, 67607, 2147483647};
  for (const uint64_t p : primes) {
    if (p > product_max_prime) continue;
    std::vector<uint64_t> exponents = {1, 2, 3, 7, 256};
    for (const uint64_t d : {2, 3, 4, 5, 6, 8, 12}) {
      if ((p - 1) % d == 0) exponents.push_back((p - 1) / d);
    }
    const prime_modulus m = make_modulus(p);
    std::vector<uint64_t> values, powers, want;
    for (const uint32_t k : ks) {
      for (const uint32_t e : {0u, 1u, 2u, 5u, 719u, 1000000u}) {
        for (const bool negated : {false, true}) {
          uint64_t a = mul_ref(k % p, pow_ref(2, e, p), p);
          if (negated) a = (p - a) % p;
          values.push_back(to_residue(a, m));
          powers.push_back(exponents[values.size() % exponents.size()]);
          want.push_back(pow_ref(a, powers.back(), p));
        }
      }
    }
    std::vector<uint64_t> results(values.size(), p);
    power_batch(values.data(), powers.data(), values.size(), m, results.data());
    for (size_t i = 0; i < values.size(); ++i) {
      EXPECT_EQ(from_residue(results[i], m), want[i]) << "value " << i << " exponent " << powers[i] << " p=" << p;
      uint64_t alone = p;  // a batch of one takes its own path
      power_batch(&values[i], &powers[i], 1, m, &alone);
      EXPECT_EQ(alone, results[i]) << "alone, value " << i << " p=" << p;
    }
    // The same in each kernel's lanes, on their form of the values, where
    // the kernel raises powers; every batch length up to all values, with
    // the exponents mixed and with one exponent shared by all but the
    // first three (as the residue tests of one degree share theirs).
    std::vector<uint64_t> shared_powers = powers, shared_want = want;
    for (size_t i = 3; i < values.size(); ++i) {
      shared_powers[i] = exponents.back();
      shared_want[i] = pow_ref(from_residue(values[i], m), shared_powers[i], p);
    }
    for (const kernel_backend* kernel : test::kernels_under_test()) {
      if (kernel->raise_powers == nullptr || p > kernel->max_prime) continue;
      const uint64_t factor = kernel->lane_factor ? kernel->lane_factor(m) : residue_one(m);
      std::vector<uint64_t> lane_values(values.size());
      for (size_t i = 0; i < values.size(); ++i) lane_values[i] = mulmod_full(values[i], factor, m);
      std::vector<uint64_t> lane_powers(values.size());
      for (const auto& [exps, wanted] : {std::pair{&powers, &want}, std::pair{&shared_powers, &shared_want}}) {
        for (size_t count = 1; count <= values.size(); ++count) {
          std::fill(lane_powers.begin(), lane_powers.end(), p);
          kernel->raise_powers(lane_values.data(), exps->data(), count, m, lane_powers.data());
          for (size_t i = 0; i < count; ++i) {
            ASSERT_EQ(from_residue(lane_powers[i], m), (*wanted)[i])
                << kernel->name << ", value " << i << " of " << count << " exponent " << (*exps)[i] << " p=" << p;
          }
        }
      }
    }
  }
}

// The scalar lanes on both sides of their change to windows (24 bits), with
// long and short exponents side by side, for every lane count.
TEST(power_batch, scalar_lanes_left_to_right_and_right_to_left) {
  for (const uint64_t p : {uint64_t{1000000000039}, (uint64_t{1} << 62) - 57}) {
    const prime_modulus m = make_modulus(p);
    const uint64_t exponents[8] = {(1u << 23) - 1, 1u << 23, (1u << 24) + 5, 3, (p - 1) / 2, (p - 1) / 6, 1, p - 2};
    uint64_t values[8], results[8];
    for (int i = 0; i < 8; ++i) values[i] = to_residue(p - 1000 - 77 * static_cast<uint64_t>(i), m);
    const auto check = [&](size_t lanes, auto raise) {
      raise(lanes);
      for (size_t i = 0; i < lanes; ++i) {
        EXPECT_EQ(from_residue(results[i], m), pow_ref(from_residue(values[i], m), exponents[i], p))
            << lanes << " lanes, value " << i << " p=" << p;
      }
    };
    check(1, [&](size_t n) { power_lanes<1>(values, exponents, n, m, results); });
    check(2, [&](size_t n) { power_lanes<2>(values, exponents, n, m, results); });
    check(3, [&](size_t n) { power_lanes<4>(values, exponents, n, m, results); });
    check(8, [&](size_t n) { power_lanes<8>(values, exponents, n, m, results); });
  }
}

TEST(walk_starts, kernel_lanes_match_direct_power) {
  // Each lane's start times its multiplier (in the lanes' form) to its own
  // offset, from 0 (the lane starts a walk) up to 12 bits, where the kernel
  // raises the starts itself: the lazy products below 2^50, reduced above.
  std::vector<uint64_t> primes;
  primesieve::generate_n_primes(20, uint64_t{3}, &primes);
  for (const uint64_t from : {uint64_t{1000000000000}, uint64_t{281474976000000}, (uint64_t{1} << 50) - 300,
                              (uint64_t{1} << 52) - 3000, (uint64_t{1} << 62) - 3000}) {
    for (const uint64_t p : test::primes_from(from, 10)) {
      if (p <= product_max_prime) primes.push_back(p);
    }
  }
  for (const kernel_backend* kernel : test::kernels_under_test()) {
    if (kernel->raise_starts == nullptr) continue;
    const auto lanes = static_cast<uint32_t>(kernel->lanes);
    for (const uint64_t p : primes) {
      if (p > kernel->max_prime) continue;
      const prime_modulus m = make_modulus(p);
      std::vector<uint64_t> starts(lanes), multipliers(lanes), want(lanes);
      std::vector<uint32_t> offsets(lanes);
      for (uint32_t l = 0; l < lanes; ++l) {
        const uint64_t start = mul_ref(4847 + l, pow_ref(2, 1000 + 37 * l, p), p), base = pow_ref(2, 6 * l + 1, p);
        offsets[l] = l % 5 == 0 ? 0 : (l * 131) % 4096;
        starts[l] = to_residue(start, m);
        multipliers[l] = to_residue(base, m);
        if (kernel->lane_factor) multipliers[l] = mulmod_full(multipliers[l], kernel->lane_factor(m), m);
        want[l] = mul_ref(start, pow_ref(base, offsets[l], p), p);
      }
      kernel->raise_starts(starts.data(), multipliers.data(), offsets.data(), m);
      for (uint32_t l = 0; l < lanes; ++l) {
        EXPECT_EQ(from_residue(starts[l], m), want[l]) << kernel->name << ", lane " << l << " p=" << p;
      }
    }
  }
}

}  // namespace
}  // namespace veksieve
