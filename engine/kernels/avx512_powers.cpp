// The filters' powers and the lanes' first values in AVX-512 IFMA lanes
// (ifma_product.hpp): many values raised right to left side by side, with
// lazy products (results below 2p, reduced at the end) below 2^50, which
// shorten each squaring, and with the two-word Montgomery product, lazy too,
// above 2^52, where the values come as plain residues and
// are taken into its form (x*2^104) by its first product. Built and run as the
// kernel's walk is (avx512_kernel.cpp).
#include <type_traits>

#include "engine/kernels/ifma_product.hpp"
#include "engine/modular_powers.hpp"

namespace veksieve {

uint64_t lane_factor_avx512(const prime_modulus& m);

namespace {

constexpr int lanes = 32;  // of the kernel's walk
// Vectors of eight values raised in one pass: up to two, its time is the
// squarings' latency; six keep one pass (one chain of latency) for the 30 to
// 45 values of a many-k file's prime.
constexpr size_t batch_vectors = 6;

// Right to left, v vectors of eight lanes in one pass: the squarings are
// each lane's only dependent chain; the masked products into the result
// overlap them, and the vectors overlap each other. Each result starts at
// `one`, or at its factor where `factors` is given (a power times a factor
// in the product's form, x*2^52 or x*2^104, keeps the factor's form). A
// nonzero `into_form` is R^2 mod p for the product's R: the values are
// plain residues, and a product by it takes them into the form.
template <class Modulus, bool lazy, int v_count>
void raise_vectors(const Modulus& m, const uint64_t* values, const uint64_t* exponents, size_t lanes,
                   uint64_t one, const uint64_t* factors, uint64_t* results, uint64_t into_form = 0) {
  alignas(64) uint64_t a_memory[8 * v_count] = {};
  alignas(64) uint64_t e_memory[8 * v_count] = {};
  alignas(64) uint64_t f_memory[8 * v_count];
  uint64_t all_bits = 0;
  for (size_t l = 0; l < 8 * v_count; ++l) f_memory[l] = factors != nullptr && l < lanes ? factors[l] : one;
  for (size_t l = 0; l < lanes; ++l) {
    a_memory[l] = values[l];
    e_memory[l] = exponents[l];
    all_bits |= exponents[l];
  }
  __m512i square[v_count], result[v_count], e[v_count];
  for (int v = 0; v < v_count; ++v) {
    square[v] = _mm512_load_si512(a_memory + 8 * v);
    e[v] = _mm512_load_si512(e_memory + 8 * v);
    result[v] = _mm512_load_si512(f_memory + 8 * v);
    if (into_form != 0) square[v] = m.mul(square[v], m.prepare(_mm512_set1_epi64(static_cast<long long>(into_form))));
  }
  const int bits = 64 - __builtin_clzll(all_bits | 1);
  for (int bit = 0; bit < bits; ++bit) {
    const __m512i this_bit = _mm512_set1_epi64(static_cast<long long>(uint64_t{1} << bit));
    for (int v = 0; v < v_count; ++v) {
      const __mmask8 take = _mm512_test_epi64_mask(e[v], this_bit);
      if constexpr (lazy && std::is_same_v<Modulus, ifma_modulus>) {
        result[v] = _mm512_mask_mov_epi64(result[v], take, mul_lazy(m, result[v], square[v]));
        square[v] = mul_lazy(m, square[v], square[v]);
      } else if constexpr (lazy) {
        const auto factor = m.prepare(square[v]);
        result[v] = _mm512_mask_mov_epi64(result[v], take, m.mul_unreduced(result[v], factor));
        square[v] = m.mul_unreduced(square[v], factor);
      } else {
        const auto factor = m.prepare(square[v]);
        result[v] = _mm512_mask_mov_epi64(result[v], take, m.mul(result[v], factor));
        square[v] = m.mul(square[v], factor);
      }
    }
  }
  alignas(64) uint64_t r_memory[8 * v_count];
  for (int v = 0; v < v_count; ++v) {
    const __m512i r = result[v];  // below 2p when lazy
    _mm512_store_si512(r_memory + 8 * v, lazy ? _mm512_mask_sub_epi64(r, _mm512_cmpge_epu64_mask(r, m.p), r, m.p) : r);
  }
  for (size_t l = 0; l < lanes; ++l) results[l] = r_memory[l];
}

template <class Modulus, bool lazy>
void raise_in_lanes(const uint64_t* values, const uint64_t* exponents, size_t count, uint64_t one, uint64_t p,
                    uint64_t* results, uint64_t into_form) {
  const Modulus m(p);
  constexpr size_t most = 8 * batch_vectors;
  for (size_t first = 0; first < count; first += most) {
    const size_t lanes = count - first < most ? count - first : most;
    const auto raise = [&]<int v_count>() {
      raise_vectors<Modulus, lazy, v_count>(m, values + first, exponents + first, lanes, one, nullptr, results + first,
                                            into_form);
    };
    switch ((lanes + 7) / 8) {
      case 1: raise.template operator()<1>(); break;
      case 2: raise.template operator()<2>(); break;
      case 3: raise.template operator()<3>(); break;
      case 4: raise.template operator()<4>(); break;
      case 5: raise.template operator()<5>(); break;
      default: raise.template operator()<6>(); break;
    }
    static_assert(batch_vectors == 6, "one case per vector count");
  }
}

// A value alone is raised faster by the scalar product, whose latency is
// lower than the lanes': from x*2^52, or from the plain residue, to x*2^64
// with one product.
bool power_is_one(uint64_t value, uint64_t exponent, const prime_modulus& m) {
  uint64_t base = m.p <= ifma_narrow_max_prime ? mulmod_full(value, to_residue(uint64_t{1} << 12, m), m)
                                               : to_residue(value, m);
  uint64_t result = residue_one(m);
  for (; exponent != 0; exponent >>= 1) {
    const uint64_t product = mulmod_full(result, base, m);
    result = (exponent & 1) ? product : result;
    base = mulmod_full(base, base, m);
  }
  return result == residue_one(m);
}

}  // namespace

void powers_are_one_avx512(const uint64_t* values, const uint64_t* exponents, size_t count, const prime_modulus& m,
                           uint8_t* is_one) {
  if (count == 1) {
    is_one[0] = power_is_one(values[0], exponents[0], m);
    return;
  }
  uint64_t results[8 * batch_vectors];
  const bool narrow = m.p <= ifma_narrow_max_prime;
  // 1 in the powers' form, 2^52 or 2^104 (2^40 in the engine's form), and
  // above 2^52 the plain values into it by 2^208 (2^144 in the engine's).
  const uint64_t one = narrow ? lane_factor_avx512(m) : to_residue(uint64_t{1} << 40, m);
  const uint64_t into_form = narrow ? 0 : pow2_mod(144, m);
  for (size_t first = 0; first < count; first += 8 * batch_vectors) {
    const size_t part = count - first < 8 * batch_vectors ? count - first : 8 * batch_vectors;
    if (m.p <= lazy_product_max_prime) {
      raise_in_lanes<ifma_modulus, true>(values + first, exponents + first, part, one, m.p, results, 0);
    } else if (narrow) {
      raise_in_lanes<ifma_modulus, false>(values + first, exponents + first, part, one, m.p, results, 0);
    } else {
      raise_in_lanes<ifma_wide_modulus, true>(values + first, exponents + first, part, one, m.p, results,
                                               into_form);
    }
    for (size_t i = 0; i < part; ++i) is_one[first + i] = results[i] == one;
  }
}

void raise_starts_avx512(uint64_t* starts, const uint64_t* multipliers, const uint32_t* exponents,
                         const prime_modulus& modulus) {
  uint64_t wide[lanes];
  for (int l = 0; l < lanes; ++l) wide[l] = exponents[l];
  if (modulus.p <= lazy_product_max_prime) {
    raise_vectors<ifma_modulus, true, lanes / 8>(ifma_modulus(modulus.p), multipliers, wide, lanes, 0, starts, starts);
  } else if (modulus.p <= ifma_narrow_max_prime) {
    raise_vectors<ifma_modulus, false, lanes / 8>(ifma_modulus(modulus.p), multipliers, wide, lanes, 0, starts,
                                                  starts);
  } else {
    raise_vectors<ifma_wide_modulus, true, lanes / 8>(ifma_wide_modulus(modulus.p), multipliers, wide, lanes, 0,
                                                       starts, starts, pow2_mod(144, modulus));
  }
}

}  // namespace veksieve
