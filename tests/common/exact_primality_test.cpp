// The exact primality test against primesieve, and on the composites that
// fool Miller-Rabin with fewer bases.
#include "common/exact_primality.hpp"

#include <gtest/gtest.h>
#include <primesieve.hpp>

#include <cstdint>
#include <vector>

namespace veksieve {
namespace {

// From 0 and up to 2^62, where the run's frontier is searched.
TEST(is_prime, agrees_with_primesieve) {
  for (const uint64_t low : {uint64_t{0}, (uint64_t{1} << 62) - 100000}) {
    std::vector<uint64_t> primes;
    primesieve::generate_primes(low, low + 100000, &primes);
    size_t next = 0;
    for (uint64_t n = low; n <= low + 100000; ++n) {
      const bool prime = next < primes.size() && primes[next] == n;
      next += prime;
      ASSERT_EQ(is_prime(n), prime) << n;
    }
  }
}

TEST(is_prime, rejects_strong_pseudoprimes_to_fewer_bases) {
  // Strong pseudoprimes to the prime bases up to 7, up to 19 and up to 31:
  // only the twelfth base, 37, tells the last one.
  for (const uint64_t n : {uint64_t{3215031751}, uint64_t{341550071728321}, uint64_t{3825123056546413051}})
    EXPECT_FALSE(is_prime(n)) << n;
  EXPECT_TRUE(is_prime((uint64_t{1} << 61) - 1));
  EXPECT_FALSE(is_prime((uint64_t{1} << 61) + 1));
  EXPECT_TRUE(is_prime(~uint64_t{0} - 58));  // 2^64 - 59, the largest 64-bit prime
  EXPECT_FALSE(is_prime(~uint64_t{0}));
}

}  // namespace
}  // namespace veksieve
