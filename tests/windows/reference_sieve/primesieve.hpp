// The part of primesieve's interface the tests use, for the Windows cross
// build, where Debian's primesieve library does not exist: a plain segmented
// sieve of Eratosthenes (above 2^48 finished by the exact primality test of
// common/), slow but obviously right and independent of primes/.
// Semantics as primesieve's: an iterator started at s hands out the primes
// >= s upwards (next_prime) or <= s downwards (prev_prime, 0 below 2).
#pragma once

#include "common/exact_primality.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace primesieve {

namespace reference {

// Wide enough that the division per sieving prime and window stays cheap
// next to the marking, up to 2^48.
constexpr uint64_t window = 1 << 22;

// The primes up to at least `limit`, by a plain sieve; kept and extended.
inline const std::vector<uint64_t>& small_primes(uint64_t limit) {
  static std::vector<uint64_t> primes;
  static uint64_t sieved_to = 0;
  if (limit > sieved_to) {
    const uint64_t top = std::max(limit, 2 * sieved_to);
    std::vector<bool> composite(top + 1);
    primes.clear();
    for (uint64_t i = 2; i <= top; ++i) {
      if (composite[i]) continue;
      primes.push_back(i);
      for (uint64_t j = i * i; j <= top; j += i) composite[j] = true;
    }
    sieved_to = top;
  }
  return primes;
}

inline uint64_t isqrt(uint64_t n) {
  auto r = static_cast<uint64_t>(std::sqrt(static_cast<double>(n)));
  while (r * r > n) --r;
  while ((r + 1) * (r + 1) <= n) ++r;
  return r;
}

// Up to here the sieving primes are sieved outright; above it the numbers
// left by the primes below 2^16 are tested one by one.
constexpr uint64_t largest_sieved_root = uint64_t{1} << 24;

// The primes in [low, high] in ascending order (high - low small).
inline std::vector<uint64_t> primes_in(uint64_t low, uint64_t high) {
  std::vector<uint64_t> out;
  if (high < 2 || low > high) return out;
  low = std::max<uint64_t>(low, 2);
  std::vector<bool> composite(high - low + 1);
  const uint64_t root = isqrt(high);
  const bool test_rest = root > largest_sieved_root;
  const uint64_t sieve_to = test_rest ? uint64_t{1} << 16 : root;
  for (const uint64_t p : small_primes(sieve_to)) {
    if (p > sieve_to) break;
    for (uint64_t m = std::max(p * p, (low + p - 1) / p * p); m <= high; m += p) composite[m - low] = true;
  }
  for (uint64_t i = 0; i < composite.size(); ++i)
    if (!composite[i] && (!test_rest || veksieve::is_prime(low + i))) out.push_back(low + i);
  return out;
}

}  // namespace reference

template <typename T>
void generate_primes(uint64_t start, uint64_t stop, std::vector<T>* primes) {
  for (uint64_t low = start; low <= stop; low += reference::window) {
    const uint64_t high = std::min(stop, low + reference::window - 1);
    for (const uint64_t p : reference::primes_in(low, high)) primes->push_back(static_cast<T>(p));
    if (high == stop) break;
  }
}

template <typename T>
void generate_n_primes(uint64_t n, uint64_t start, std::vector<T>* primes) {
  for (uint64_t low = start, found = 0; found < n; low += reference::window) {
    for (const uint64_t p : reference::primes_in(low, low + reference::window - 1)) {
      if (found++ == n) break;
      primes->push_back(static_cast<T>(p));
    }
  }
}

class iterator {
 public:
  explicit iterator(uint64_t start = 0, uint64_t = 0) : up_(start), down_(start) {}

  uint64_t next_prime() {
    while (next_ == ahead_.size()) {
      ahead_ = reference::primes_in(up_, up_ + reference::window - 1);
      up_ += reference::window;
      next_ = 0;
    }
    return ahead_[next_++];
  }

  uint64_t prev_prime() {
    while (prev_ == 0) {
      if (down_ < 2) return 0;
      const uint64_t low = down_ >= reference::window ? down_ - reference::window + 1 : 0;
      behind_ = reference::primes_in(low, down_);
      prev_ = behind_.size();
      down_ = low == 0 ? 0 : low - 1;
    }
    return behind_[--prev_];
  }

 private:
  uint64_t up_;  // the lowest number not yet sieved upwards
  std::vector<uint64_t> ahead_;
  std::size_t next_ = 0;
  uint64_t down_;  // the highest number not yet sieved downwards
  std::vector<uint64_t> behind_;
  std::size_t prev_ = 0;
};

}  // namespace primesieve
