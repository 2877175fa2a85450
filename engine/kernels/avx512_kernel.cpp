// The walk and the table build in AVX-512 IFMA lanes (ifma_product.hpp), with
// the one-word Montgomery product below 2^52 and the product by a fixed
// multiplier, its quotient formed once, above: 32 lanes (four vectors of
// eight) in flight, the presence bits fetched by one gather per sixteen
// lanes; the table built 32 chains wide, each entry's presence bits set as
// it is formed; the last map cleared beside the next table's first powers;
// and the whole-table comparison of a table without chains. Built only when
// the compiler has the instructions (CMake probe); run only on CPUs that
// have them (kernel_dispatch.cpp).
#include <type_traits>

#include "common/config.hpp"
#include "engine/kernels/ifma_product.hpp"
#include "engine/lane_pool.hpp"
#include "engine/modular_powers.hpp"
#include "engine/table_start.hpp"

namespace veksieve {

namespace {

constexpr int vectors = 4;  // the 32 lanes of the kernel's row

// The walk's multipliers by lanes, for the one-word Montgomery product: a
// lane that takes a walk loads its multiplier in the product's own form.
__attribute__((always_inline)) inline __m512i load_factor(const ifma_modulus&, __m512i old, __mmask8 lanes,
                                                          const uint64_t* multiplier) {
  return _mm512_mask_loadu_epi64(old, lanes, multiplier);
}
// The product by a fixed multiplier, for primes above 2^52: each lane that
// takes a walk loads its multiplier's quotient from the queue beside the
// multipliers, where the layout formed it once per step.
struct shoup_walk_modulus : ifma_shoup_modulus {
  const uint64_t* multipliers;  // the plan's queues
  const uint64_t* quotients;

  shoup_walk_modulus(uint64_t p, const lane_plan& plan)
      : ifma_shoup_modulus(p), multipliers(plan.queue_multiplier.data()), quotients(plan.queue_quotient.data()) {}
};

__attribute__((always_inline)) inline ifma_shoup_modulus::factor load_factor(const shoup_walk_modulus& m,
                                                                             ifma_shoup_modulus::factor old,
                                                                             __mmask8 lanes,
                                                                             const uint64_t* multiplier) {
  const uint64_t* quotient = m.quotients + (multiplier - m.multipliers);
  return m.prepare(_mm512_mask_loadu_epi64(old.s, lanes, multiplier), _mm512_mask_loadu_epi64(old.w, lanes, quotient));
}

template <class Modulus>
struct ifma_lanes {
  static constexpr int width = 8 * vectors;
  Modulus m;
  __m512i z[vectors] = {};
  typename Modulus::factor factor[vectors] = {};

  template <class... Arguments>
  explicit ifma_lanes(Arguments&&... arguments) : m(arguments...) {}

  void begin(const uint64_t* start, const uint64_t* multiplier) { take(~uint64_t{0}, start, multiplier); }
  __attribute__((always_inline)) void take(uint64_t lanes, const uint64_t* start, const uint64_t* multiplier) {
    for (int v = 0; v < vectors; ++v) {
      const auto mask = static_cast<__mmask8>(lanes >> (8 * v));
      z[v] = _mm512_mask_loadu_epi64(z[v], mask, start + 8 * v);
      factor[v] = load_factor(m, factor[v], mask, multiplier + 8 * v);
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
  __attribute__((always_inline)) uint64_t probe(const uint32_t* presence, uint32_t mask) const {
    const __m512i block_mask = _mm512_set1_epi32(static_cast<int>(mask));
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
    for (int v = 0; v < vectors; ++v) z[v] = m.mul(z[v], factor[v]);
  }
};

// The table's multiplier, the same in every lane.
template <class Modulus>
typename Modulus::factor fixed_factor(const Modulus& m, uint64_t multiplier, uint64_t p) {
  const __m512i s = _mm512_set1_epi64(static_cast<long long>(multiplier));
  if constexpr (std::is_same_v<Modulus, ifma_shoup_modulus>) {
    return m.prepare(s, _mm512_set1_epi64(static_cast<long long>(m.quotient(multiplier, p))));
  } else {
    return m.prepare(s);
  }
}

template <class Modulus>
void build_table(uint64_t* table, uint64_t* keys, uint32_t* presence, uint32_t mask, uint32_t length,
                 const uint64_t* first, uint64_t multiplier, const prime_modulus& modulus) {
  const Modulus m(modulus.p);
  const auto s = fixed_factor(m, multiplier, modulus.p);
  const __m512i block_mask = _mm512_set1_epi64(mask);
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
  constexpr uint32_t chains = 8 * vectors;
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
    insert(presence_key(batch[c], mask));
    if (keys != nullptr) keys[j + c] = presence_key(batch[c], mask);
  }
}

}  // namespace

void walk_avx512(const stride_view& view, const walk_layout& walks, const prime_modulus& m) {
  if (m.p <= ifma_narrow_max_prime) {
    ifma_lanes<ifma_modulus> lanes(m.p);
    run_lanes(view, walks.plan, lanes);
  } else {
    ifma_lanes<shoup_walk_modulus> lanes(m.p, walks.plan);
    run_lanes(view, walks.plan, lanes);
  }
}

// A multiplier s*R becomes s*2^52 = s*R * 2^-12*R / R with one product, or
// above 2^52 the plain residue s = s*R * 1 / R.
uint64_t lane_factor_avx512(const prime_modulus& m) {
  return m.p <= ifma_narrow_max_prime ? pow_half_mod(12, m) : 1;
}

// Above 2^52 the walk's product by s needs floor(s*2^64/p).
uint64_t multiplier_quotient_avx512(uint64_t multiplier, const prime_modulus& m) {
  return m.p <= ifma_narrow_max_prime ? 0 : ifma_shoup_modulus::quotient(multiplier, m.p);
}

void build_table_avx512(uint64_t* table, uint64_t* keys, uint32_t* presence, uint32_t block_mask, uint32_t length,
                        const uint64_t* first, uint64_t multiplier, const prime_modulus& m) {
  if (m.p <= ifma_narrow_max_prime) {
    build_table<ifma_modulus>(table, keys, presence, block_mask, length, first, multiplier, m);
  } else {
    build_table<ifma_shoup_modulus>(table, keys, presence, block_mask, length, first, multiplier, m);
  }
}

half_power_pair table_start_avx512(uint32_t nmin, uint32_t stride, const prime_modulus& m, uint32_t* presence,
                                   uint16_t* head, uint32_t map_blocks) {
  // Stores that retire behind a waiting product reach the cache while it
  // waits; the whole map cleared before or after the loop would not overlap it.
  const uint32_t blocks = map_blocks / presence_clear_parts;
  static_assert(presence_block_count / 2 / presence_clear_parts % 32 == 0);
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

}  // namespace veksieve
