// Built from the small primes, which the wheel patterns and the sieving
// primes are taken from, and checked against the bounds of the classes.
#include "primes/prime_tables.hpp"

#include "common/macros.hpp"
#include "primes/small_primes.hpp"

namespace veksieve {

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
