// Test helpers: a source set up the way the engine sets it up, and bulk
// comparison of what it hands out with primesieve's primes, the independent
// reference. Comparing whole vectors keeps the sanitizer builds fast.
#pragma once

#include "primes/prime_source.hpp"
#include "tests/support/reference_primes.hpp"

#include <gtest/gtest.h>
#include <primesieve.hpp>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

namespace veksieve::test {

// One set of tables for the whole test run, as a run shares them between workers.
inline std::shared_ptr<const prime_tables> shared_tables() {
  static const std::shared_ptr<const prime_tables> tables = build_prime_tables();
  return tables;
}

inline std::unique_ptr<prime_source> make_source() { return std::make_unique<prime_source>(shared_tables()); }

inline std::unique_ptr<prime_source> started_source(int64_t pmin) {
  auto source = make_source();
  sieve_start(*source, pmin);
  return source;
}

// primesieve's primes in (pmin, stop], leaving out 2.
inline std::vector<int64_t> reference_primes_to(int64_t pmin, int64_t stop) {
  primesieve::iterator it(static_cast<uint64_t>(std::max<int64_t>(pmin + 1, 3)), static_cast<uint64_t>(stop));
  std::vector<int64_t> primes;
  for (auto p = static_cast<int64_t>(it.next_prime()); p <= stop; p = static_cast<int64_t>(it.next_prime()))
    primes.push_back(p);
  return primes;
}

inline std::vector<int64_t> hand_out(prime_source& source, size_t count) {
  std::vector<int64_t> primes(count);
  for (auto& p : primes) p = next_prime(source);
  return primes;
}

// Hands out primes up to stop; the first prime above stop stays pending.
inline std::vector<int64_t> hand_out_to(prime_source& source, int64_t stop) {
  std::vector<int64_t> primes;
  while (peek_prime(source) <= stop) primes.push_back(next_prime(source));
  return primes;
}

inline ::testing::AssertionResult same_primes(const std::vector<int64_t>& got, const std::vector<int64_t>& want) {
  const size_t n = std::min(got.size(), want.size());
  const auto [g, w] = std::mismatch(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(n), want.begin());
  if (g != got.begin() + static_cast<std::ptrdiff_t>(n)) {
    const auto i = g - got.begin();
    return ::testing::AssertionFailure() << "prime #" << i << ": handed out " << *g << ", expected " << *w
                                         << (i > 0 ? " (after " + std::to_string(got[i - 1]) + ")" : "");
  }
  if (got.size() != want.size())
    return ::testing::AssertionFailure() << got.size() << " primes handed out, expected " << want.size();
  return ::testing::AssertionSuccess();
}

}  // namespace veksieve::test
