// The Montgomery products in AVX-512 IFMA lanes, eight lanes per vector: one
// word of 52 bits (R = 2^52) for p < 2^52, two words (R = 2^104) for every
// p < 2^62. For the translation units built with AVX-512 alone, each of
// which keeps its own copy (an unnamed namespace), so that no generic code
// ever links to one. Both offer prepare(s), the multiplier in the form mul()
// takes, so that code written once serves both.
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
  using factor = __m512i;
  __m512i p;
  __m512i inv;  // p^-1 mod 2^52

  explicit ifma_modulus(uint64_t prime)
      : p(_mm512_set1_epi64(static_cast<long long>(prime))),
        inv(_mm512_set1_epi64(static_cast<long long>(odd_inverse(prime) & ((uint64_t{1} << 52) - 1)))) {}

  __attribute__((always_inline)) factor prepare(__m512i s) const { return s; }
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

// The largest prime the one-word product serves.
constexpr uint64_t ifma_narrow_max_prime = (uint64_t{1} << 52) - 1;

// Two words of 52 bits, R = 2^104, for odd p < 2^62: z = z0 + z1*B with
// B = 2^52 and z1 < 2^11, likewise s and p (the instructions read the low
// word of a lane themselves; the high word is a shift). T = z*s is summed by
// words, each partial product's 52-bit halves added where they belong:
//   T = z0s0 + B*(z0s1 + z1s0) + B^2*z1s1.
// Two reduction steps with q = word * (-p^-1) mod B each make the lowest
// word vanish, so T + (q0 + q1*B)*p = r*B^2 exactly, and r < (T + B^2*p)/B^2
// < p + 4p^2/B^2 < 2p for z, s < 2p: one subtraction (an unsigned minimum)
// reduces it. The first step's carry is 1 exactly when the low word of T is
// not 0 (its word and that of q0*p add up to 0 or B); the second's is read
// off the sum. A multiplier in the form s*2^104 keeps z in the engine's
// Montgomery form.
struct ifma_wide_modulus {
  struct factor {
    __m512i low;   // s; the instructions read its low 52 bits
    __m512i high;  // s >> 52
  };
  __m512i p;
  __m512i p_high;
  __m512i minus_inv;  // -p^-1 mod 2^52

  explicit ifma_wide_modulus(uint64_t prime)
      : p(_mm512_set1_epi64(static_cast<long long>(prime))),
        p_high(_mm512_set1_epi64(static_cast<long long>(prime >> 52))),
        minus_inv(_mm512_set1_epi64(static_cast<long long>((0 - odd_inverse(prime)) & ((uint64_t{1} << 52) - 1)))) {}

  __attribute__((always_inline)) factor prepare(__m512i s) const { return {s, _mm512_srli_epi64(s, 52)}; }

  // z*s*2^-104 mod p in [0, 2p), for the chains of the powers, which reduce
  // only their results. The partial products are summed as trees, not
  // chains, beside the one chain of the reduction: low, q0, q0*p, q1, q1*p.
  __attribute__((always_inline)) __m512i mul_unreduced(__m512i z, factor s) const {
    const __m512i zero = _mm512_setzero_si512();
    const __m512i z_high = _mm512_srli_epi64(z, 52);
    const __m512i low = _mm512_madd52lo_epu64(zero, z, s.low);
    const __m512i q0 = _mm512_madd52lo_epu64(zero, low, minus_inv);
    // The middle and high words of T, with the first step's carry.
    __m512i middle = _mm512_add_epi64(_mm512_madd52hi_epu64(zero, z, s.low),
                                      _mm512_madd52lo_epu64(_mm512_madd52lo_epu64(zero, z, s.high), z_high, s.low));
    middle = _mm512_mask_sub_epi64(middle, _mm512_test_epi64_mask(low, low), middle, _mm512_set1_epi64(-1));
    __m512i high = _mm512_add_epi64(_mm512_madd52hi_epu64(zero, z, s.high),
                                    _mm512_madd52hi_epu64(_mm512_madd52lo_epu64(zero, z_high, s.high), z_high, s.low));
    // + q0*p, divided by B.
    middle = _mm512_add_epi64(_mm512_madd52hi_epu64(middle, q0, p), _mm512_madd52lo_epu64(zero, q0, p_high));
    high = _mm512_madd52hi_epu64(high, q0, p_high);
    // + q1*p*B, divided by B.
    const __m512i q1 = _mm512_madd52lo_epu64(zero, middle, minus_inv);
    const __m512i carry = _mm512_srli_epi64(_mm512_madd52lo_epu64(middle, q1, p), 52);
    const __m512i q1p = _mm512_add_epi64(_mm512_madd52hi_epu64(high, q1, p), _mm512_madd52lo_epu64(zero, q1, p_high));
    const __m512i q1p_high = _mm512_slli_epi64(_mm512_madd52hi_epu64(zero, q1, p_high), 52);
    return _mm512_add_epi64(_mm512_add_epi64(q1p, carry), q1p_high);
  }

  __attribute__((always_inline)) __m512i mul(__m512i z, factor s) const {
    const __m512i r = mul_unreduced(z, s);
    return _mm512_min_epu64(r, _mm512_sub_epi64(r, p));
  }
};

// z*s mod p for plain residues z, s < p < 2^62 and a multiplier fixed for
// many products, with w = floor(s*2^64/p) formed once for it (Shoup).
// zs/p - zw/2^64 lies in [0, z/2^64) within [0, 1/4). In words of 52 bits,
// z = z0 + z1*B (z1 < 2^10) and w = w0 + w1*B (w1 < 2^12):
//   zw/2^64 = lo(z0w0)/2^64 + (hi(z0w0) + lo(z0w1) + lo(z1w0))/2^12
//             + (hi(z0w1) + hi(z1w0) + z1w1)*2^40,
// and q, which drops the first term (below 2^-12) and the fraction of the
// second, lies in (zs/p - 1.26, zs/p]: q is floor(zs/p) or one less. So
// zs - qp lies in [0, 2p), below 2^63: the difference of the low 64 bits of
// z*s and q*p is the value itself, and one subtraction (an unsigned minimum)
// reduces it. Six IFMA products and two 64-bit ones, against sixteen IFMA
// products of the two-word Montgomery product; the multiplier's form is the
// plain residue, so the walk's values keep the engine's form.
struct ifma_shoup_modulus {
  struct factor {
    __m512i s;
    __m512i w;       // floor(s*2^64/p); the instructions read its low 52 bits
    __m512i w_high;  // w >> 52
  };
  __m512i p;

  explicit ifma_shoup_modulus(uint64_t prime) : p(_mm512_set1_epi64(static_cast<long long>(prime))) {}

  // floor(s*2^64/p) for s < p, which fits in 64 bits: one division.
  static uint64_t quotient(uint64_t s, uint64_t prime) {
    uint64_t q, r;
    asm("divq %4" : "=a"(q), "=d"(r) : "a"(uint64_t{0}), "d"(s), "rm"(prime) : "cc");
    return q;
  }

  __attribute__((always_inline)) static factor prepare(__m512i s, __m512i w) {
    return {s, w, _mm512_srli_epi64(w, 52)};
  }

  __attribute__((always_inline)) __m512i mul(__m512i z, const factor& f) const {
    const __m512i zero = _mm512_setzero_si512();
    const __m512i z_high = _mm512_srli_epi64(z, 52);
    const __m512i below = _mm512_add_epi64(
        _mm512_madd52hi_epu64(zero, z, f.w),
        _mm512_madd52lo_epu64(_mm512_madd52lo_epu64(zero, z, f.w_high), z_high, f.w));
    const __m512i above = _mm512_add_epi64(
        _mm512_madd52hi_epu64(zero, z, f.w_high),
        _mm512_madd52lo_epu64(_mm512_madd52hi_epu64(zero, z_high, f.w), z_high, f.w_high));
    const __m512i q = _mm512_add_epi64(_mm512_srli_epi64(below, 12), _mm512_slli_epi64(above, 40));
    const __m512i r = _mm512_sub_epi64(_mm512_mullo_epi64(z, f.s), _mm512_mullo_epi64(q, p));
    return _mm512_min_epu64(r, _mm512_sub_epi64(r, p));
  }
};

}  // namespace
}  // namespace veksieve
