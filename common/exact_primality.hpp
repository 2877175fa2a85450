// Exact arithmetic modulo any 64-bit number by 128-bit products, and the
// primality test built on it. Slow next to the engine's, but independent of
// it: what checks the engine's results and names a run's frontier.
#pragma once

#include <cstdint>

namespace veksieve {

inline uint64_t mul_mod(uint64_t a, uint64_t b, uint64_t m) {
  return static_cast<uint64_t>(static_cast<unsigned __int128>(a) * b % m);
}

inline uint64_t pow_mod(uint64_t base, uint64_t e, uint64_t m) {
  uint64_t power = 1 % m;
  base %= m;
  for (; e != 0; e >>= 1) {
    if (e & 1) power = mul_mod(power, base, m);
    base = mul_mod(base, base, m);
  }
  return power;
}

// Whether n is prime, exactly, for every 64-bit n.
bool is_prime(uint64_t n);

}  // namespace veksieve
