// Built from the small primes, which the wheel patterns and the sieving
// primes are taken from, and checked against the bounds of the classes.
#include "primes/prime_tables.hpp"

#include "common/macros.hpp"

namespace veksieve {
namespace {

// The first small_prime_count odd primes and an end mark, by trial division
// from constants: small and fast enough that a sieve would only add code.
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

}  // namespace

std::shared_ptr<const prime_tables> build_prime_tables() {
  auto tables = std::make_shared<prime_tables>();
  tables->small_primes = build_small_primes();
  tables->sieving_primes = std::make_unique<uint32_t[]>(sieving_prime_count);
  for (uint32_t j = 0; j < sieving_prime_count; ++j)
    tables->sieving_primes[j] = tables->small_primes[first_sieving_prime_index + j];
  tables->wheel = build_wheel_patterns(tables->sieving_primes.get());
  // The strike loops rely on each class's bounds on p.
  ASSERT(tables->sieving_primes[class_2_begin - 1] < 128);
  ASSERT(tables->sieving_primes[class_3_begin - 1] < 0x10000);
  ASSERT(tables->sieving_primes[class_3_begin] > 0x10000);
  ASSERT(tables->sieving_primes[class_4_begin - 1] < 0x18000);
  ASSERT(tables->sieving_primes[class_4_begin] > 0x18000);
  ASSERT(tables->sieving_primes[sieving_prime_count - 1] == last_sieving_prime);
  return tables;
}

}  // namespace veksieve
