// 128-bit modular arithmetic for verification and the run's frontier.
#include "report/exact_arithmetic.hpp"

namespace veksieve {

namespace {

uint64_t mul_mod(uint64_t a, uint64_t b, uint64_t m) {
  return static_cast<uint64_t>(static_cast<unsigned __int128>(a) * b % m);
}

uint64_t pow_mod(uint64_t base, uint64_t e, uint64_t m) {
  uint64_t power = 1 % m;
  base %= m;
  for (; e != 0; e >>= 1) {
    if (e & 1) power = mul_mod(power, base, m);
    base = mul_mod(base, base, m);
  }
  return power;
}

bool is_prime(uint64_t n) {
  constexpr uint64_t bases[] = {2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37};
  if (n < 2) return false;
  for (uint64_t b : bases) {
    if (n % b == 0) return n == b;
  }
  uint64_t d = n - 1;
  int s = 0;
  for (; (d & 1) == 0; d >>= 1) ++s;
  for (uint64_t b : bases) {
    uint64_t x = pow_mod(b, d, n);
    if (x == 1 || x == n - 1) continue;
    bool composite = true;
    for (int r = 1; r < s && composite; ++r) {
      x = mul_mod(x, x, n);
      composite = x != n - 1;
    }
    if (composite) return false;
  }
  return true;
}

}  // namespace

bool divides_k_2n_plus_1(int64_t p, int32_t k, uint32_t n) {
  // No exponent is reduced by Fermat's theorem: the check is exact for any
  // modulus, so that a made-up line naming a composite p is caught too.
  const auto modulus = static_cast<uint64_t>(p);
  const uint64_t k_reduced = static_cast<uint64_t>(k) % modulus;
  return mul_mod(pow_mod(2, n, modulus), k_reduced, modulus) == modulus - 1;
}

int64_t first_prime_above(int64_t x) {
  auto n = static_cast<uint64_t>(x) + 1;
  while (!is_prime(n)) ++n;
  return static_cast<int64_t>(n);
}

}  // namespace veksieve
