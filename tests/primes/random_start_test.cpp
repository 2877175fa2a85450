// Random starting points over the whole range of the engine, each followed by
// a few hundred thousand primes compared with primesieve's. Half the points
// are drawn uniformly, half log-uniformly so that low ranges are covered too.
#include "prime_reference.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <random>

namespace veksieve {
namespace {

constexpr uint64_t seed = 20260412;
constexpr int batches = 5;
constexpr int starts_per_batch = 10;
constexpr size_t primes_per_start = 300000;
constexpr int64_t highest_start = (int64_t{1} << 48) - (int64_t{1} << 20);

class random_start : public ::testing::TestWithParam<int> {};

TEST_P(random_start, hands_out_the_same_primes_as_primesieve) {
  const int batch = GetParam();
  std::cout << "seed " << seed << ", batch " << batch << "\n";
  std::mt19937_64 random(seed + static_cast<uint64_t>(batch));
  std::uniform_int_distribution<int64_t> uniform(0, highest_start);
  std::uniform_real_distribution<double> exponent(0.0, std::log(double(highest_start)));

  auto source = test::make_source();
  for (int i = 0; i < starts_per_batch; ++i) {
    const int64_t pmin = i % 2 == 0 ? uniform(random) : std::min(highest_start, static_cast<int64_t>(std::exp(exponent(random))));
    SCOPED_TRACE(pmin);
    sieve_start(*source, pmin);
    ASSERT_TRUE(test::same_primes(test::hand_out(*source, primes_per_start),
                                  test::primes_from(pmin + 1, primes_per_start)));
  }
}

INSTANTIATE_TEST_SUITE_P(batches, random_start, ::testing::Range(0, batches));

}  // namespace
}  // namespace veksieve
