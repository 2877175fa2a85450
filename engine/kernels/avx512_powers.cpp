// The filters' powers and the lanes' first values in AVX-512 IFMA lanes
// (ifma_product.hpp): many values raised right to left side by side, with
// lazy products (results below 2p, reduced at the end) below 2^50, which
// shorten each squaring, and with the two-word Montgomery product, lazy too,
// above 2^52, where the values come as plain residues and are taken into its
// form (x*2^104) by its first product. There the values that share an
// exponent are raised left to right in windows, which takes fewer of its
// costly products, and a batch of a few values goes to the scalar product,
// whose chain is shorter. Built and run as the kernel's walk is
// (avx512_kernel.cpp).
#include <algorithm>
#include <type_traits>

#include "engine/kernels/ifma_product.hpp"
#include "engine/modular_powers.hpp"
#include "engine/power_residue.hpp"

namespace veksieve {

uint64_t lane_factor_avx512(const prime_modulus& m);

namespace {

constexpr int lanes = 32;  // of the kernel's walk
// Vectors of eight values raised in one pass: up to two, its time is the
// squarings' latency; six keep one pass (one chain of latency) for the 30 to
// 45 values of a many-k file's prime.
constexpr size_t batch_vectors = 6;

// a*b in the product the batch uses: lazy (below 2p from inputs below 2p)
// or reduced.
template <class Modulus, bool lazy>
__attribute__((always_inline)) inline __m512i product(const Modulus& m, __m512i a, __m512i b) {
  if constexpr (lazy && std::is_same_v<Modulus, ifma_modulus>) {
    return mul_lazy(m, a, b);
  } else if constexpr (lazy) {
    return m.mul_unreduced(a, m.prepare(b));
  } else {
    return m.mul(a, m.prepare(b));
  }
}

// x times into_form, R^2 mod p for the product's R: a plain residue taken
// into the product's form; 0: x is in it already.
template <class Modulus>
__m512i taken_into_form(const Modulus& m, __m512i x, uint64_t into_form) {
  return into_form == 0 ? x : m.mul(x, m.prepare(_mm512_set1_epi64(static_cast<long long>(into_form))));
}

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
    square[v] = taken_into_form(m, square[v], into_form);
  }
  const int bits = 64 - __builtin_clzll(all_bits | 1);
  for (int bit = 0; bit < bits; ++bit) {
    const __m512i this_bit = _mm512_set1_epi64(static_cast<long long>(uint64_t{1} << bit));
    for (int v = 0; v < v_count; ++v) {
      const __mmask8 take = _mm512_test_epi64_mask(e[v], this_bit);
      result[v] = _mm512_mask_mov_epi64(result[v], take, product<Modulus, lazy>(m, result[v], square[v]));
      square[v] = product<Modulus, lazy>(m, square[v], square[v]);
    }
  }
  alignas(64) uint64_t r_memory[8 * v_count];
  for (int v = 0; v < v_count; ++v) {
    const __m512i r = result[v];  // below 2p when lazy
    _mm512_store_si512(r_memory + 8 * v, lazy ? _mm512_mask_sub_epi64(r, _mm512_cmpge_epu64_mask(r, m.p), r, m.p) : r);
  }
  for (size_t l = 0; l < lanes; ++l) results[l] = r_memory[l];
}

// Values that share one exponent (the residue tests of one degree), left to
// right in windows of up to four bits that end in a 1: each window costs
// its squarings and one product by an odd power from a table of eight, so
// a 52-bit exponent takes about 52 squarings and 11 products (and 8 for the
// table) where right to left takes 104. The windows are the same in every
// lane, so the schedule is the exponent's alone. Results reduced, in the
// product's form; `into_form` as in raise_vectors.
template <class Modulus, bool lazy, int v_count>
void raise_shared(const Modulus& m, const uint64_t* values, uint64_t exponent, size_t lanes, uint64_t one,
                  uint64_t* results, uint64_t into_form) {
  constexpr int window = 4;
  constexpr int odd_powers = 1 << (window - 1);
  alignas(64) uint64_t memory[8 * v_count];
  for (size_t l = 0; l < 8 * v_count; ++l) memory[l] = l < lanes ? values[l] : one;
  __m512i table[odd_powers][v_count];  // x, x^3, ..., x^15
  __m512i result[v_count];
  for (int v = 0; v < v_count; ++v) {
    __m512i x = _mm512_load_si512(memory + 8 * v);
    x = taken_into_form(m, x, into_form);
    const __m512i x2 = product<Modulus, lazy>(m, x, x);
    table[0][v] = x;
    for (int i = 1; i < odd_powers; ++i) table[i][v] = product<Modulus, lazy>(m, table[i - 1][v], x2);
  }
  bool started = false;
  for (int i = 63 - __builtin_clzll(exponent); i >= 0;) {
    if ((exponent >> i & 1) == 0) {
      for (int v = 0; v < v_count; ++v) result[v] = product<Modulus, lazy>(m, result[v], result[v]);
      --i;
      continue;
    }
    int j = i - window + 1 > 0 ? i - window + 1 : 0;
    while ((exponent >> j & 1) == 0) ++j;  // the window ends in a 1
    const auto digit = static_cast<int>(exponent >> j & ((uint64_t{1} << (i - j + 1)) - 1));
    if (started) {
      for (int k = j; k <= i; ++k) {
        for (int v = 0; v < v_count; ++v) result[v] = product<Modulus, lazy>(m, result[v], result[v]);
      }
      for (int v = 0; v < v_count; ++v) result[v] = product<Modulus, lazy>(m, result[v], table[digit >> 1][v]);
    } else {
      for (int v = 0; v < v_count; ++v) result[v] = table[digit >> 1][v];
    }
    started = true;
    i = j - 1;
  }
  for (int v = 0; v < v_count; ++v) {
    const __m512i r = result[v];  // below 2p when lazy
    _mm512_store_si512(memory + 8 * v, lazy ? _mm512_mask_sub_epi64(r, _mm512_cmpge_epu64_mask(r, m.p), r, m.p) : r);
  }
  for (size_t l = 0; l < lanes; ++l) results[l] = memory[l];
}

// At least this many values of one exponent, above 2^52, are raised left to
// right (raise_shared); fewer, right to left with the rest. Below 2^52 the
// one-word product is so short that the longer chain of left to right costs
// more than its fewer products save (measured at 10^12).
constexpr size_t shared_exponent_least = 16;

template <class Modulus, bool lazy>
void raise_in_lanes(const uint64_t* values, const uint64_t* exponents, size_t count, uint64_t one, uint64_t p,
                    uint64_t* results, uint64_t into_form) {
  const Modulus m(p);
  constexpr size_t most = 8 * batch_vectors;
  for (size_t first = 0; first < count; first += most) {
    const size_t lanes = count - first < most ? count - first : most;
    bool shared = std::is_same_v<Modulus, ifma_wide_modulus>;
    for (size_t l = 1; l < lanes; ++l) shared &= exponents[first + l] == exponents[first];
    const auto raise = [&]<int v_count>() {
      if (shared) {
        raise_shared<Modulus, lazy, v_count>(m, values + first, exponents[first], lanes, one, results + first,
                                             into_form);
      } else {
        raise_vectors<Modulus, lazy, v_count>(m, values + first, exponents + first, lanes, one, nullptr,
                                              results + first, into_form);
      }
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
uint64_t power_alone(uint64_t value, uint64_t exponent, const prime_modulus& m) {
  const uint64_t base = m.p <= ifma_narrow_max_prime ? mulmod_full(value, to_residue(uint64_t{1} << 12, m), m)
                                                     : to_residue(value, m);
  uint64_t result;
  power_lanes<1>(&base, &exponent, 1, m, &result);
  return result;
}

// Above 2^52 up to this many values are raised faster in the scalar
// product's chains side by side (power_lanes): a vector of the two-word
// product waits about 35 cycles for each squaring, the scalar product about
// 12, and so few values leave the lanes idle anyway. Measured at 2^55: a
// seventh to three tenths fewer samples in the powers than in the lanes.
constexpr size_t scalar_powers_most = 8;

// The values are plain residues (the lanes' form above 2^52).
void scalar_powers(const uint64_t* values, const uint64_t* exponents, size_t count, const prime_modulus& m,
                   uint64_t* powers) {
  uint64_t forms[8];
  for (size_t i = 0; i < count; ++i) forms[i] = to_residue(values[i], m);
  if (count <= 2) {
    power_lanes<2>(forms, exponents, count, m, powers);
  } else if (count <= 4) {
    power_lanes<4>(forms, exponents, count, m, powers);
  } else {
    power_lanes<8>(forms, exponents, count, m, powers);
  }
}

}  // namespace

void raise_powers_avx512(const uint64_t* values, const uint64_t* exponents, size_t count, const prime_modulus& m,
                         uint64_t* powers) {
  if (count == 1) {
    powers[0] = power_alone(values[0], exponents[0], m);
    return;
  }
  constexpr size_t most = 8 * batch_vectors;
  const bool narrow = m.p <= ifma_narrow_max_prime;
  if (!narrow && count <= scalar_powers_most) {
    scalar_powers(values, exponents, count, m, powers);
    return;
  }
  // 1 in the powers' form, 2^52 or 2^104 (2^40 in the engine's form), and
  // above 2^52 the plain values into it by 2^208 (2^144 in the engine's).
  // A product by 2^76 or by 2^24 (plain) takes a result to the engine's
  // form, x*2^64.
  const uint64_t one = narrow ? lane_factor_avx512(m) : to_residue(uint64_t{1} << 40, m);
  const uint64_t into_form = narrow ? 0 : pow2_mod(144, m);
  const uint64_t to_engine_form = narrow ? to_residue(uint64_t{1} << 12, m) : uint64_t{1} << 24;
  uint64_t results[most];
  // Up to `most` values, into powers at `to` (consecutive, or by index).
  const auto raise = [&](const uint64_t* part_values, const uint64_t* part_exponents, size_t part,
                         const auto& to) {
    if (m.p <= lazy_product_max_prime) {
      raise_in_lanes<ifma_modulus, true>(part_values, part_exponents, part, one, m.p, results, 0);
    } else if (narrow) {
      raise_in_lanes<ifma_modulus, false>(part_values, part_exponents, part, one, m.p, results, 0);
    } else {
      raise_in_lanes<ifma_wide_modulus, true>(part_values, part_exponents, part, one, m.p, results, into_form);
    }
    for (size_t i = 0; i < part; ++i) powers[to(i)] = mulmod_full(results[i], to_engine_form, m);
  };
  // Below 2^52, or too few values for an exponent shared by enough of them,
  // the values are raised in the order they come.
  if (narrow || count < shared_exponent_least) {
    for (size_t first = 0; first < count; first += most) {
      raise(values + first, exponents + first, std::min(count - first, most), [first](size_t i) { return first + i; });
    }
    return;
  }
  // Above 2^52 the values of each exponent shared by enough of them (one per
  // degree of the residue tests, a few per prime) are raised together, the
  // others together.
  const size_t shared_least = shared_exponent_least;
  constexpr size_t kinds = 8;
  uint64_t kind_exponent[kinds];
  uint32_t kind_count[kinds] = {};
  size_t kind_total = 0;
  for (size_t i = 0; i < count; ++i) {
    size_t k = 0;
    while (k < kind_total && kind_exponent[k] != exponents[i]) ++k;
    if (k == kind_total) {
      if (kind_total == kinds) continue;
      kind_exponent[kind_total++] = exponents[i];
    }
    ++kind_count[k];
  }
  uint64_t part_values[most], part_exponents[most];
  uint32_t part_index[most];
  size_t part = 0;
  const auto raise_part = [&] {
    raise(part_values, part_exponents, part, [&](size_t i) { return part_index[i]; });
    part = 0;
  };
  const auto add = [&](size_t i) {
    part_values[part] = values[i];
    part_exponents[part] = exponents[i];
    part_index[part] = static_cast<uint32_t>(i);
    if (++part == most) raise_part();
  };
  const auto shared = [&](uint64_t e) {
    for (size_t k = 0; k < kind_total; ++k) {
      if (kind_exponent[k] == e) return kind_count[k] >= shared_least;
    }
    return false;
  };
  for (size_t k = 0; k < kind_total; ++k) {
    if (kind_count[k] < shared_least) continue;
    for (size_t i = 0; i < count; ++i) {
      if (exponents[i] == kind_exponent[k]) add(i);
    }
    if (part != 0) raise_part();
  }
  for (size_t i = 0; i < count; ++i) {
    if (!shared(exponents[i])) add(i);
  }
  if (part != 0) raise_part();
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
