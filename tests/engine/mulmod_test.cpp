// The modular product against 128-bit arithmetic, for both variants (the x87
// fast path and the portable fallback): random operands below 3p and the
// extremes, lazy results in [0, 2p), full ones in [0, p).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <random>

#include "engine/fpu_control.hpp"
#include "engine/mulmod_portable.hpp"
#include "engine/mulmod_x87.hpp"
#include "reference.hpp"

namespace veksieve {
namespace {

using test::mul_ref;

constexpr uint64_t largest_prime_below_2_48 = 281474976710597;

// Primes at the edges the quotient estimate must survive, and odd moduli.
const uint64_t moduli[] = {5,          7,          11,         2147483647, 2147483659, 4294967291,
                           4294967311, 999999999989, 1000000000039, largest_prime_below_2_48,
                           (uint64_t{1} << 48) - 1};

struct x87_variant {
  static uint64_t lazy(uint64_t a, uint64_t b, const prime_modulus& m) { return x87::mulmod_lazy(a, b, m); }
  static uint64_t full(uint64_t a, uint64_t b, const prime_modulus& m) { return x87::mulmod_full(a, b, m); }
  static uint64_t fixed(uint64_t a, uint64_t b, const prime_modulus& m) {
    return x87::mulmod_full(a, x87::make_fixed_factor(b, m), m);
  }
};

struct portable_variant {
  static uint64_t lazy(uint64_t a, uint64_t b, const prime_modulus& m) { return portable::mulmod_lazy(a, b, m); }
  static uint64_t full(uint64_t a, uint64_t b, const prime_modulus& m) { return portable::mulmod_full(a, b, m); }
  static uint64_t fixed(uint64_t a, uint64_t b, const prime_modulus& m) {
    return portable::mulmod_full(a, portable::make_fixed_factor(b, m), m);
  }
};

template <class V>
::testing::AssertionResult product_ok(uint64_t a, uint64_t b, const prime_modulus& m) {
  const uint64_t p = m.p;
  const uint64_t want = mul_ref(a, b, p);
  const uint64_t lazy = V::lazy(a, b, m);
  const uint64_t full = V::full(a, b, m);
  const uint64_t fixed = V::fixed(a, b, m);
  if (lazy < 2 * p && lazy % p == want && full == want && fixed == want) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "a=" << a << " b=" << b << " p=" << p << ": lazy " << lazy << ", full "
                                       << full << ", fixed " << fixed << ", want " << want;
}

template <class V>
void check_variant() {
  engine_fpu_scope mode;
  const uint64_t seed = 20240611;
  std::printf("mulmod random seed %llu\n", static_cast<unsigned long long>(seed));
  std::mt19937_64 random(seed);
  for (const uint64_t p : moduli) {
    const prime_modulus m = make_modulus(p);
    const uint64_t top = 3 * p - 1;
    for (const uint64_t a : {uint64_t{0}, uint64_t{1}, p - 1, p, p + 1, 2 * p - 1, 2 * p, top}) {
      for (const uint64_t b : {uint64_t{0}, uint64_t{1}, p - 1, p, 2 * p - 1, top}) {
        ASSERT_TRUE(product_ok<V>(a, b, m));
      }
    }
    std::uniform_int_distribution<uint64_t> below_3p(0, top);
    std::uniform_int_distribution<uint64_t> near_top(top > 1000 ? top - 1000 : 0, top);
    for (int i = 0; i < 150000; ++i) {
      ASSERT_TRUE(product_ok<V>(below_3p(random), below_3p(random), m));
      ASSERT_TRUE(product_ok<V>(near_top(random), near_top(random), m));
    }
  }
  // Random odd moduli over the whole range.
  std::uniform_int_distribution<uint64_t> modulus(3, (uint64_t{1} << 48) - 1);
  for (int round = 0; round < 2000; ++round) {
    const uint64_t p = modulus(random) | 1;
    const prime_modulus m = make_modulus(p);
    std::uniform_int_distribution<uint64_t> below_3p(0, 3 * p - 1);
    for (int i = 0; i < 200; ++i) ASSERT_TRUE(product_ok<V>(below_3p(random), below_3p(random), m));
  }
}

TEST(mulmod, x87_matches_128_bit_arithmetic) { check_variant<x87_variant>(); }

TEST(mulmod, portable_matches_128_bit_arithmetic) { check_variant<portable_variant>(); }

TEST(mulmod, largest_prime_with_largest_inputs) {
  engine_fpu_scope mode;
  const prime_modulus m = make_modulus(largest_prime_below_2_48);
  const uint64_t a = 3 * m.p - 1;
  const uint64_t lazy = x87::mulmod_lazy(a, a, m);
  EXPECT_LT(lazy, 2 * m.p);
  EXPECT_EQ(lazy % m.p, mul_ref(a, a, m.p));
}

TEST(fpu_control, sets_and_restores_the_control_word) {
  const uint16_t before = fpu_control_word();
  {
    engine_fpu_scope mode;
    EXPECT_EQ(fpu_control_word() & fpu_precision_mask, fpu_precision_64);
    EXPECT_EQ(fpu_control_word() & fpu_rounding_mask, fpu_round_down);
    // Rounding down shows in the extended type: 1/3 then times 3 falls short of 1.
    volatile long double third = 1.0L / 3.0L;
    EXPECT_LT(third * 3.0L, 1.0L);
    // The other bits stay as they were.
    EXPECT_EQ(fpu_control_word() & ~(fpu_precision_mask | fpu_rounding_mask),
              before & ~(fpu_precision_mask | fpu_rounding_mask));
  }
  EXPECT_EQ(fpu_control_word(), before);
}

}  // namespace
}  // namespace veksieve
