// The fixed tables: small primes, wheel patterns, sieving primes and their
// classes, checked against primesieve and against plain divisibility; and
// sources sharing one set of tables side by side.
#include "prime_reference.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

namespace veksieve {
namespace {

TEST(small_primes, are_the_first_24000_odd_primes_and_an_end_mark) {
  const uint32_t* table = test::shared_tables()->small_primes.get();
  EXPECT_EQ(table[small_prime_count], 0x7fffffffu);
  const std::vector<int64_t> got(table, table + small_prime_count);
  EXPECT_TRUE(test::same_primes(got, test::primes_from(3, small_prime_count)));
}

struct pattern_case {
  const char* name;
  const uint32_t* words;
  uint32_t period;
  std::initializer_list<uint32_t> primes;
};

TEST(wheel_patterns, strike_exactly_the_odd_multiples_of_their_primes) {
  const auto tables = test::shared_tables();
  const pattern_case cases[] = {
      {"5_29_31", tables->wheel.pattern_5_29_31.get(), 4495, {5, 29, 31}},
      {"3_7_13_17", tables->wheel.pattern_3_7_13_17.get(), 4641, {3, 7, 13, 17}},
      {"11_19_23", tables->wheel.pattern_11_19_23.get(), 4807, {11, 19, 23}},
  };
  // Bit k stands for 2k - 1; every bit of the array, window tails included.
  const auto check = [](const uint32_t* words, uint32_t period, std::initializer_list<uint32_t> primes) {
    const uint32_t bits = 32 * (period + segment_words);
    uint32_t wrong = 0;
    for (uint32_t k = 0; k < bits; ++k) {
      bool multiple = false;
      for (uint32_t q : primes) multiple = multiple || (2 * int64_t{k} - 1) % q == 0;
      const bool set = (words[k / 32] >> (k % 32)) & 1;
      wrong += set == multiple;
    }
    EXPECT_EQ(wrong, 0u);
    for (uint32_t w = 0; w < segment_words; ++w) ASSERT_EQ(words[period + w], words[w]) << "word " << w;
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    check(c.words, c.period, c.primes);
  }
  // The pre-sieve patterns, 37 * 41 to 113 * 127.
  const uint32_t* sieving = tables->sieving_primes.get();
  for (uint32_t j = 0; j < presieve_pattern_count; ++j) {
    SCOPED_TRACE(sieving[2 * j]);
    EXPECT_EQ(tables->wheel.presieve_periods[j], sieving[2 * j] * sieving[2 * j + 1]);
    check(tables->wheel.presieve_patterns[j].get(), tables->wheel.presieve_periods[j], {sieving[2 * j], sieving[2 * j + 1]});
  }
  // Bits 0 and 1 (-1 and 1) set, 3 to 31 struck, 37 to 61 left.
  EXPECT_EQ(cases[0].words[0] & cases[1].words[0] & cases[2].words[0], 0xc9680003u);
}

TEST(sieving_primes, follow_the_small_primes_with_their_class_boundaries) {
  const auto tables = test::shared_tables();
  const uint32_t* sieving = tables->sieving_primes.get();
  EXPECT_EQ(sieving[0], 37u);
  EXPECT_EQ(sieving[sieving_prime_count - 1], last_sieving_prime);
  // Each class begins with the first prime above its lower bound.
  const std::pair<uint32_t, uint32_t> classes[] = {{class_2_begin, 128}, {class_3_begin, 0x10000}, {class_4_begin, 0x18000}};
  for (const auto& [begin, bound] : classes)
    EXPECT_TRUE(sieving[begin - 1] < bound && sieving[begin] > bound) << "class from " << begin;
  for (uint32_t j = 0; j < sieving_prime_count; ++j)
    ASSERT_EQ(sieving[j], tables->small_primes[first_sieving_prime_index + j]);
}

// Two workers' sources on one set of tables, taking turns as threads would
// interleave them: each hands out its own range, and the tables stay as built.
TEST(prime_tables, are_shared_by_sources_without_being_written) {
  const auto tables = test::shared_tables();
  const auto words = [](const uint32_t* p, size_t n) { return std::vector<uint32_t>(p, p + n); };
  const auto pattern = words(tables->wheel.pattern_3_7_13_17.get(), period_3_7_13_17 + segment_words);
  const auto sieving = words(tables->sieving_primes.get(), sieving_prime_count);

  prime_source a(tables), b(tables);
  sieve_start(a, 1000000000000);
  sieve_start(b, 20000000000);
  std::vector<int64_t> got_a, got_b;
  for (int turn = 0; turn < 20; ++turn) {
    for (int64_t p : test::hand_out(a, 5000)) got_a.push_back(p);
    for (int64_t p : test::hand_out(b, 5000)) got_b.push_back(p);
  }
  EXPECT_TRUE(test::same_primes(got_a, test::primes_from(1000000000000, 100000)));
  EXPECT_TRUE(test::same_primes(got_b, test::primes_from(20000000000, 100000)));
  EXPECT_EQ(words(tables->wheel.pattern_3_7_13_17.get(), period_3_7_13_17 + segment_words), pattern);
  EXPECT_EQ(words(tables->sieving_primes.get(), sieving_prime_count), sieving);
}

}  // namespace
}  // namespace veksieve
