// The fixed tables every source reads: small primes, wheel patterns and the
// segment's sieving primes. Built once per run and shared, read-only, by the
// sources of all workers.
#pragma once

#include "primes/wheel_patterns.hpp"

#include <cstdint>
#include <memory>

namespace veksieve {

struct prime_tables {
  std::unique_ptr<uint32_t[]> small_primes;
  std::unique_ptr<uint32_t[]> sieving_primes;  // 37 to 131071
  wheel_patterns wheel;
};

// Builds the tables. A failed allocation throws std::bad_alloc.
std::shared_ptr<const prime_tables> build_prime_tables();

}  // namespace veksieve
