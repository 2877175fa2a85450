// The source's fixed tables: small primes, wheel patterns, sieving primes and
// their classes, checked against primesieve and against plain divisibility.
#include "prime_reference.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

namespace veksieve {
namespace {

TEST(small_primes, are_the_first_24000_odd_primes_and_an_end_mark) {
  const auto source = test::make_source();
  const uint32_t* table = source->small_primes.get();
  EXPECT_EQ(table[0], 3u);
  EXPECT_EQ(table[9], 31u);
  EXPECT_EQ(table[10], 37u);
  EXPECT_EQ(table[10441], 109873u);
  EXPECT_EQ(table[23999], 274579u);
  EXPECT_EQ(table[24000], 0x7fffffffu);

  const std::vector<int64_t> got(table, table + small_prime_count);
  EXPECT_TRUE(test::same_primes(got, test::reference_primes(0, small_prime_count)));
}

struct pattern_case {
  const char* name;
  const uint32_t* words;
  uint32_t period;
  std::initializer_list<uint32_t> primes;
  uint32_t word_0;
};

TEST(wheel_patterns, strike_exactly_the_odd_multiples_of_their_primes) {
  const auto source = test::make_source();
  const pattern_case cases[] = {
      {"5_29_31", source->pattern_5_29_31.get(), 4495, {5, 29, 31}, 0xef7a5ef7},
      {"3_7_13_17", source->pattern_3_7_13_17.get(), 4641, {3, 7, 13, 17}, 0xd969b44b},
      {"11_19_23", source->pattern_11_19_23.get(), 4807, {11, 19, 23}, 0xcffdebbf},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.words[0], c.word_0);
    // Bit k stands for 2k - 1; every bit of the array, window tails included.
    const uint32_t bits = 32 * (c.period + segment_words);
    uint32_t wrong = 0;
    for (uint32_t k = 0; k < bits; ++k) {
      bool multiple = false;
      for (uint32_t q : c.primes) multiple = multiple || (2 * int64_t{k} - 1) % q == 0;
      const bool set = (c.words[k / 32] >> (k % 32)) & 1;
      wrong += set == multiple;
    }
    EXPECT_EQ(wrong, 0u);
    for (uint32_t w = 0; w < segment_words; ++w) ASSERT_EQ(c.words[c.period + w], c.words[w]) << "word " << w;
  }
  // Bits 0 and 1 (-1 and 1) set, 3 to 31 struck, 37 to 61 left.
  EXPECT_EQ(cases[0].words[0] & cases[1].words[0] & cases[2].words[0], 0xc9680003u);
}

TEST(sieving_primes, follow_the_small_primes_with_their_class_boundaries) {
  const auto source = test::make_source();
  const prime_strike* sieving = source->sieving_primes.get();
  const std::pair<uint32_t, uint32_t> expected[] = {{0, 37},      {19, 127},     {20, 131},     {6530, 65521},
                                                    {6531, 65537}, {9427, 98299}, {9428, 98317}, {10431, 109873}};
  for (const auto& [index, prime] : expected) EXPECT_EQ(sieving[index].prime, prime) << "entry " << index;
  EXPECT_EQ(sieving[class_2_begin].prime, expected[2].second);
  EXPECT_EQ(sieving[class_3_begin].prime, expected[4].second);
  EXPECT_EQ(sieving[class_4_begin].prime, expected[6].second);
  for (uint32_t j = 0; j < sieving_prime_count; ++j)
    ASSERT_EQ(sieving[j].prime, source->small_primes[first_sieving_prime_index + j]);
}

TEST(sieve_tables, second_initialisation_changes_nothing) {
  auto source = test::make_source();
  sieve_start(*source, 1000000);
  const auto words = [](const uint32_t* p, size_t n) { return std::vector<uint32_t>(p, p + n); };
  const auto sieving_words = [](const prime_source& s) {
    std::vector<uint32_t> w(2 * sieving_prime_count);
    std::memcpy(w.data(), s.sieving_primes.get(), w.size() * sizeof(uint32_t));
    return w;
  };
  const prime_source& s = *source;
  const auto segment = words(s.segment.get(), segment_words + segment_slack_words);
  const auto pattern = words(s.pattern_3_7_13_17.get(), period_3_7_13_17 + segment_words);
  const auto packed = words(s.packed_sieve.get(), sieving_prime_count);
  const auto sieving = sieving_words(s);
  const uint32_t* segment_buffer = s.segment.get();
  const uint32_t* pattern_buffer = s.pattern_5_29_31.get();
  const uint32_t* const chunk = s.chunk;

  init_sieve_tables(*source);
  EXPECT_EQ(s.segment.get(), segment_buffer);
  EXPECT_EQ(s.pattern_5_29_31.get(), pattern_buffer);
  EXPECT_EQ(s.chunk, chunk);
  EXPECT_EQ(words(s.segment.get(), segment_words + segment_slack_words), segment);
  EXPECT_EQ(words(s.pattern_3_7_13_17.get(), period_3_7_13_17 + segment_words), pattern);
  EXPECT_EQ(words(s.packed_sieve.get(), sieving_prime_count), packed);
  EXPECT_EQ(sieving_words(s), sieving);
}

}  // namespace
}  // namespace veksieve
