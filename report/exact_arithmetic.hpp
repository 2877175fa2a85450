// Arithmetic of the results path that must not depend on the engine's: the
// check that p divides k*2^n+1 (or -1) and the next prime after a number, both with
// 128-bit products, exact for every p below 2^63.
#pragma once

#include <cstdint>

namespace veksieve {

// k * 2^n == -c (mod p): p divides k*2^n+c (c = +1 or -1), for any p of at
// least 2.
bool divides_k_2n_c(int64_t p, int32_t k, uint32_t n, int32_t c = 1);

// The smallest prime above x, for 0 <= x < 2^62 (exact: is_prime).
int64_t first_prime_above(int64_t x);

}  // namespace veksieve
