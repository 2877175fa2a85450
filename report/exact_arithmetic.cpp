// Verification and the run's frontier, on the exact arithmetic of common/.
#include "report/exact_arithmetic.hpp"

#include "common/exact_primality.hpp"

namespace veksieve {

bool divides_k_2n_c(int64_t p, int32_t k, uint32_t n, int32_t c) {
  // No exponent is reduced by Fermat's theorem: the check is exact for any
  // modulus, so that a made-up line naming a composite p is caught too.
  const auto modulus = static_cast<uint64_t>(p);
  const uint64_t k_reduced = static_cast<uint64_t>(k) % modulus;
  return mul_mod(pow_mod(2, n, modulus), k_reduced, modulus) == (c < 0 ? 1 % modulus : modulus - 1);
}

int64_t first_prime_above(int64_t x) {
  auto n = static_cast<uint64_t>(x) + 1;
  while (!is_prime(n)) ++n;
  return static_cast<int64_t>(n);
}

}  // namespace veksieve
