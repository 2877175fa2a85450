// Runs of consecutive primes from primesieve, the tests' independent
// reference for prime lists.
#pragma once

#include <primesieve.hpp>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace veksieve::test {

// The first `count` odd primes from start on.
inline std::vector<int64_t> primes_from(uint64_t start, size_t count) {
  primesieve::iterator it(start < 3 ? 3 : start);
  std::vector<int64_t> primes(count);
  for (auto& p : primes) p = static_cast<int64_t>(it.next_prime());
  return primes;
}

}  // namespace veksieve::test
