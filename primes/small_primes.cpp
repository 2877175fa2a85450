// The small prime table: the first 24000 odd primes, from which the sieving
// primes are taken. Built by trial division from constants once per run; it
// is small and fast enough that a sieve would only add code.
#include "primes/small_primes.hpp"

#include "primes/sieve_layout.hpp"

namespace veksieve {

std::unique_ptr<uint32_t[]> build_small_primes() {
  auto table = std::make_unique<uint32_t[]>(small_prime_count + 1);
  constexpr uint32_t seeds[] = {3, 5, 7, 11, 13, 17, 19, 23, 29};
  uint32_t count = 0;
  for (uint32_t seed : seeds) table[count++] = seed;

  // Candidates are the numbers +-1 mod 6 from 31 on, so 3 is never tried as
  // a divisor. d*d stays far inside 32 bits: no divisor above 541 is reached.
  uint32_t step = 2;
  for (uint32_t v = 29 + step; count < small_prime_count; step = 6 - step, v += step) {
    bool prime = true;
    for (uint32_t i = 1;; ++i) {
      const uint32_t d = table[i];
      if (d * d > v) break;
      if (v % d == 0) {
        prime = false;
        break;
      }
    }
    if (prime) table[count++] = v;
  }
  table[small_prime_count] = small_primes_end_mark;
  return table;
}

}  // namespace veksieve
