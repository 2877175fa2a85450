// The walk and table build in AVX-512 IFMA lanes: Montgomery products with
// R = 2^52 in the 52-bit multiply-add units, 32 lanes (four vectors of eight)
// in flight, the presence bits fetched by one gather per vector. Built only
// when the compiler has the instructions (CMake probe); run only on CPUs
// that have them (walk_dispatch.cpp).
#include <immintrin.h>

#include "common/config.hpp"
#include "engine/lane_pool.hpp"
#include "engine/table_start.hpp"

namespace veksieve {

namespace {

constexpr int vectors = walk_avx512_lanes / 8;

// Lane values and multipliers below p < 2^52, so each fits the 52-bit inputs.
// T = z*s < p^2: lo and hi are its 52-bit halves, hi < p. q = lo * p^-1 mod
// 2^52 makes q*p agree with T in the low 52 bits, so T - q*p equals
// (hi - hi(q*p)) * 2^52 exactly, and hi - hi(q*p) lies in (-p, p): one
// conditional addition of p leaves z*s*2^-52 mod p, reduced. A multiplier in
// the form s*2^52 thus keeps z in the engine's Montgomery form.
struct ifma_modulus {
  __m512i p;
  __m512i inv;  // p^-1 mod 2^52

  explicit ifma_modulus(uint64_t prime) {
    uint64_t inv64 = prime;
    for (int i = 0; i < 5; ++i) inv64 *= 2 - prime * inv64;
    p = _mm512_set1_epi64(static_cast<long long>(prime));
    inv = _mm512_set1_epi64(static_cast<long long>(inv64 & ((uint64_t{1} << 52) - 1)));
  }

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

struct ifma_lanes {
  static constexpr int width = 8 * vectors;
  ifma_modulus m;
  __m512i z[vectors];
  __m512i s[vectors];

  explicit ifma_lanes(uint64_t p) : m(p) {}

  void begin(const uint64_t* start, const uint64_t* multiplier) {
    for (int v = 0; v < vectors; ++v) {
      z[v] = _mm512_loadu_si512(start + 8 * v);
      s[v] = _mm512_loadu_si512(multiplier + 8 * v);
    }
  }
  __attribute__((always_inline)) void take(uint64_t lanes, const uint64_t* start, const uint64_t* multiplier) {
    for (int v = 0; v < vectors; ++v) {
      const auto mask = static_cast<__mmask8>(lanes >> (8 * v));
      z[v] = _mm512_mask_loadu_epi64(z[v], mask, start + 8 * v);
      s[v] = _mm512_mask_loadu_epi64(s[v], mask, multiplier + 8 * v);
    }
  }
  // Every vector stored, so that no step indexes z at run time: the
  // registers then need no copy in memory.
  uint64_t value(int l) const {
    alignas(64) uint64_t zs[width];
    for (int v = 0; v < vectors; ++v) _mm512_store_si512(zs + 8 * v, z[v]);
    return zs[l];
  }
  // The low halves of two vectors packed into sixteen 32-bit lanes, so that
  // one gather of presence blocks serves sixteen lanes.
  __attribute__((always_inline)) uint64_t probe(const uint32_t* presence) const {
    const __m512i block_mask = _mm512_set1_epi32(presence_block_mask);
    const __m512i low5 = _mm512_set1_epi32(31);
    const __m512i one = _mm512_set1_epi32(1);
    const __m512i even = _mm512_set_epi32(30, 28, 26, 24, 22, 20, 18, 16, 14, 12, 10, 8, 6, 4, 2, 0);
    uint64_t hits = 0;
    for (int v = 0; v < vectors; v += 2) {
      const __m512i low = _mm512_permutex2var_epi32(z[v], even, z[v + 1]);
      const __m512i bits = _mm512_i32gather_epi32(_mm512_and_si512(low, block_mask), presence, 4);
      const __m512i first = _mm512_and_si512(_mm512_srli_epi32(low, presence_first_shift), low5);
      const __m512i second = _mm512_and_si512(_mm512_srli_epi32(low, presence_second_shift), low5);
      const __m512i both = _mm512_and_si512(_mm512_srlv_epi32(bits, first), _mm512_srlv_epi32(bits, second));
      hits |= uint64_t{_mm512_test_epi32_mask(both, one)} << (8 * v);
    }
    return hits;
  }
  __attribute__((always_inline)) void advance() {
    for (int v = 0; v < vectors; ++v) z[v] = m.mul(z[v], s[v]);
  }
};

// z*s*2^-52 mod p in [0, 2p) for z, s < 2p and p < 2^50, without the
// correction: T < 4p^2 < p*2^52 keeps hi - hi(q*p) in (-p, p), and p is added
// unconditionally, beside the reduction's chain rather than after it.
constexpr uint64_t power_batch_lazy_max_prime = (uint64_t{1} << 50) - 1;

__attribute__((always_inline)) inline __m512i mul_lazy(const ifma_modulus& m, __m512i z, __m512i s) {
  const __m512i zero = _mm512_setzero_si512();
  const __m512i lo = _mm512_madd52lo_epu64(zero, z, s);
  const __m512i hi_plus_p = _mm512_madd52hi_epu64(m.p, z, s);
  const __m512i q = _mm512_madd52lo_epu64(zero, lo, m.inv);
  return _mm512_sub_epi64(hi_plus_p, _mm512_madd52hi_epu64(zero, q, m.p));
}

// Right to left, v vectors of eight lanes in one pass: the squarings are
// each lane's only dependent chain; the masked products into the result
// overlap them, and the vectors overlap each other. Each result starts at
// `one`, or at its factor where `factors` is given (a power times a factor
// in the form x*2^52 keeps the factor's form).
template <bool lazy, int v_count>
void raise_vectors(const ifma_modulus& m, const uint64_t* values, const uint64_t* exponents, size_t lanes,
                   uint64_t one, const uint64_t* factors, uint64_t* results) {
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
  }
  const auto mul = [&m](__m512i z, __m512i s) { return lazy ? mul_lazy(m, z, s) : m.mul(z, s); };
  const int bits = 64 - __builtin_clzll(all_bits | 1);
  for (int bit = 0; bit < bits; ++bit) {
    const __m512i this_bit = _mm512_set1_epi64(static_cast<long long>(uint64_t{1} << bit));
    for (int v = 0; v < v_count; ++v) {
      const __mmask8 take = _mm512_test_epi64_mask(e[v], this_bit);
      result[v] = _mm512_mask_mov_epi64(result[v], take, mul(result[v], square[v]));
      square[v] = mul(square[v], square[v]);
    }
  }
  alignas(64) uint64_t r_memory[8 * v_count];
  for (int v = 0; v < v_count; ++v) {
    const __m512i r = result[v];  // below 2p when lazy
    _mm512_store_si512(r_memory + 8 * v, lazy ? _mm512_mask_sub_epi64(r, _mm512_cmpge_epu64_mask(r, m.p), r, m.p) : r);
  }
  for (size_t l = 0; l < lanes; ++l) results[l] = r_memory[l];
}

template <bool lazy>
void raise_in_lanes(const uint64_t* values, const uint64_t* exponents, size_t count, uint64_t one, uint64_t p,
                    uint64_t* results) {
  const ifma_modulus m(p);
  constexpr size_t most = 8 * power_batch_vectors;
  for (size_t first = 0; first < count; first += most) {
    const size_t lanes = count - first < most ? count - first : most;
    const auto raise = [&]<int v_count>() {
      raise_vectors<lazy, v_count>(m, values + first, exponents + first, lanes, one, nullptr, results + first);
    };
    switch ((lanes + 7) / 8) {
      case 1: raise.template operator()<1>(); break;
      case 2: raise.template operator()<2>(); break;
      case 3: raise.template operator()<3>(); break;
      case 4: raise.template operator()<4>(); break;
      case 5: raise.template operator()<5>(); break;
      default: raise.template operator()<6>(); break;
    }
    static_assert(power_batch_vectors == 6, "one case per vector count");
  }
}

}  // namespace

void walk_avx512(const stride_view& view, const lane_plan& plan, uint64_t p) {
  ifma_lanes lanes(p);
  run_lanes(view, plan, lanes);
}

void raise_starts_avx512(uint64_t* starts, const uint64_t* multipliers, const uint32_t* exponents, uint64_t p) {
  const ifma_modulus m(p);
  uint64_t wide[walk_avx512_lanes];
  for (int l = 0; l < walk_avx512_lanes; ++l) wide[l] = exponents[l];
  if (p <= power_batch_lazy_max_prime) {
    raise_vectors<true, vectors>(m, multipliers, wide, walk_avx512_lanes, 0, starts, starts);
  } else {
    raise_vectors<false, vectors>(m, multipliers, wide, walk_avx512_lanes, 0, starts, starts);
  }
}

void build_table_avx512(uint64_t* table, uint64_t* keys, uint32_t* presence, uint32_t length, const uint64_t* first,
                        uint64_t multiplier, uint64_t p) {
  const ifma_modulus m(p);
  const __m512i s = _mm512_set1_epi64(static_cast<long long>(multiplier));
  const __m512i block_mask = _mm512_set1_epi64(presence_block_mask);
  const __m512i low5 = _mm512_set1_epi64(31);
  const __m512i one = _mm512_set1_epi64(1);
  const auto key = [&](__m512i x) {
    const __m512i first_bit = _mm512_sllv_epi64(one, _mm512_and_si512(_mm512_srli_epi64(x, presence_first_shift), low5));
    const __m512i second_bit =
        _mm512_sllv_epi64(one, _mm512_and_si512(_mm512_srli_epi64(x, presence_second_shift), low5));
    return _mm512_or_si512(_mm512_and_si512(x, block_mask),
                           _mm512_slli_epi64(_mm512_or_si512(first_bit, second_bit), 32));
  };
  // Each entry's bits are set as it is formed, taken from the key vector,
  // so that the insertion's loads and stores overlap the next products.
  const auto insert = [presence](uint64_t key) {
    presence[static_cast<uint32_t>(key)] |= static_cast<uint32_t>(key >> 32);
  };
  __m512i x[vectors];
  for (int v = 0; v < vectors; ++v) x[v] = _mm512_loadu_si512(first + 8 * v);
  constexpr uint32_t chains = table_chains_avx512;
  static_assert(chains == 8 * vectors);
  alignas(64) uint64_t batch[chains];
  uint32_t j = 0;
  for (; j + chains <= length; j += chains) {
    for (int v = 0; v < vectors; ++v) {
      _mm512_storeu_si512(table + j + 8 * v, x[v]);
      const __m512i k = key(x[v]);
      if (keys != nullptr) _mm512_storeu_si512(keys + j + 8 * v, k);
      x[v] = m.mul(x[v], s);
      const __m256i low = _mm512_castsi512_si256(k), high = _mm512_extracti64x4_epi64(k, 1);
      const __m128i quarters[4] = {_mm256_castsi256_si128(low), _mm256_extracti128_si256(low, 1),
                                   _mm256_castsi256_si128(high), _mm256_extracti128_si256(high, 1)};
      for (const __m128i two : quarters) {
        insert(static_cast<uint64_t>(_mm_cvtsi128_si64(two)));
        insert(static_cast<uint64_t>(_mm_extract_epi64(two, 1)));
      }
    }
  }
  for (int v = 0; v < vectors; ++v) _mm512_store_si512(batch + 8 * v, x[v]);
  for (uint32_t c = 0; j + c < length; ++c) {
    table[j + c] = batch[c];
    insert(presence_key(batch[c]));
    if (keys != nullptr) keys[j + c] = presence_key(batch[c]);
  }
}

half_power_pair table_start_avx512(uint32_t nmin, uint32_t stride, const prime_modulus& m, uint32_t* presence,
                                   uint16_t* head) {
  // Stores that retire behind a waiting product reach the cache while it
  // waits; the whole map cleared before or after the loop would not overlap it.
  constexpr uint32_t blocks = presence_block_count / presence_clear_parts;
  static_assert(blocks % 32 == 0);
  const __m512i zero = _mm512_setzero_si512();
  return pow_half_pair(nmin, stride, m, presence_clear_parts, [=](int part) {
    const uint32_t from = static_cast<uint32_t>(part) * blocks;
    for (uint32_t b = from; b < from + blocks; b += 16) _mm512_storeu_si512(presence + b, zero);
    if (head != nullptr) {
      for (uint32_t b = from; b < from + blocks; b += 32) _mm512_storeu_si512(head + b, zero);
    }
  });
}

uint32_t find_entry_avx512(const uint64_t* table, uint32_t from, uint32_t length, uint64_t z) {
  const __m512i wanted = _mm512_set1_epi64(static_cast<long long>(z));
  uint32_t j = from;
  for (; j + 32 <= length; j += 32) {
    const uint32_t equal = uint32_t{_mm512_cmpeq_epu64_mask(_mm512_loadu_si512(table + j), wanted)} |
                           uint32_t{_mm512_cmpeq_epu64_mask(_mm512_loadu_si512(table + j + 8), wanted)} << 8 |
                           uint32_t{_mm512_cmpeq_epu64_mask(_mm512_loadu_si512(table + j + 16), wanted)} << 16 |
                           uint32_t{_mm512_cmpeq_epu64_mask(_mm512_loadu_si512(table + j + 24), wanted)} << 24;
    if (equal != 0) return j + static_cast<uint32_t>(__builtin_ctz(equal));
  }
  for (; j < length; j += 8) {
    const auto inside = static_cast<__mmask8>(length - j >= 8 ? 0xff : (1u << (length - j)) - 1);
    const __mmask8 equal =
        _mm512_mask_cmpeq_epu64_mask(inside, _mm512_maskz_loadu_epi64(inside, table + j), wanted);
    if (equal != 0) return j + static_cast<uint32_t>(__builtin_ctz(equal));
  }
  return length;
}

void power_batch_avx512(const uint64_t* values, const uint64_t* exponents, size_t count, uint64_t one, uint64_t p,
                        uint64_t* results) {
  if (p <= power_batch_lazy_max_prime) {
    raise_in_lanes<true>(values, exponents, count, one, p, results);
  } else {
    raise_in_lanes<false>(values, exponents, count, one, p, results);
  }
}

}  // namespace veksieve
