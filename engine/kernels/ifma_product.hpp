// The Montgomery product in AVX-512 IFMA lanes, R = 2^52, eight lanes per
// vector; for the translation units built with AVX-512 alone, each of which
// keeps its own copy (an unnamed namespace), so that no generic code ever
// links to one.
#pragma once

#include <immintrin.h>

#include <cstdint>

#include "common/odd_inverse.hpp"

namespace veksieve {
namespace {

// Lane values and multipliers below p < 2^52, so each fits the 52-bit inputs.
// T = z*s < p^2: lo and hi are its 52-bit halves, hi < p. q = lo * p^-1 mod
// 2^52 makes q*p agree with T in the low 52 bits, so T - q*p equals
// (hi - hi(q*p)) * 2^52 exactly, and hi - hi(q*p) lies in (-p, p): one
// conditional addition of p leaves z*s*2^-52 mod p, reduced. A multiplier in
// the form s*2^52 thus keeps z in the engine's Montgomery form.
struct ifma_modulus {
  __m512i p;
  __m512i inv;  // p^-1 mod 2^52

  explicit ifma_modulus(uint64_t prime)
      : p(_mm512_set1_epi64(static_cast<long long>(prime))),
        inv(_mm512_set1_epi64(static_cast<long long>(odd_inverse(prime) & ((uint64_t{1} << 52) - 1)))) {}

  __attribute__((always_inline)) __m512i mul(__m512i z, __m512i s) const {
    const __m512i zero = _mm512_setzero_si512();
    const __m512i lo = _mm512_madd52lo_epu64(zero, z, s);
    const __m512i hi = _mm512_madd52hi_epu64(zero, z, s);
    const __m512i q = _mm512_madd52lo_epu64(zero, lo, inv);
    const __m512i qp_hi = _mm512_madd52hi_epu64(zero, q, p);
    const __m512i r = _mm512_sub_epi64(hi, qp_hi);
    return _mm512_mask_add_epi64(r, _mm512_cmplt_epu64_mask(hi, qp_hi), r, p);
  }
};

// z*s*2^-52 mod p in [0, 2p) for z, s < 2p and p < 2^50, without the
// correction: T < 4p^2 < p*2^52 keeps hi - hi(q*p) in (-p, p), and p is added
// unconditionally, beside the reduction's chain rather than after it.
constexpr uint64_t lazy_product_max_prime = (uint64_t{1} << 50) - 1;

__attribute__((always_inline)) inline __m512i mul_lazy(const ifma_modulus& m, __m512i z, __m512i s) {
  const __m512i zero = _mm512_setzero_si512();
  const __m512i lo = _mm512_madd52lo_epu64(zero, z, s);
  const __m512i hi_plus_p = _mm512_madd52hi_epu64(m.p, z, s);
  const __m512i q = _mm512_madd52lo_epu64(zero, lo, m.inv);
  return _mm512_sub_epi64(hi_plus_p, _mm512_madd52hi_epu64(zero, q, m.p));
}

}  // namespace
}  // namespace veksieve
