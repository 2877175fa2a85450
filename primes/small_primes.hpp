// The small prime table, from which the sieving primes are taken.
#pragma once

#include <cstdint>
#include <memory>

namespace veksieve {

// The first small_prime_count odd primes and an end mark.
std::unique_ptr<uint32_t[]> build_small_primes();

}  // namespace veksieve
