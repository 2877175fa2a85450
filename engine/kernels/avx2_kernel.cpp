// The walk in AVX2 lanes, 16 lanes (four vectors of four) in flight, the
// presence bits fetched by one gather per vector. Below 2^50 the products are
// of doubles with FMA; above, of 64-bit integers from 32x32-bit products with
// the multiplier's quotient formed once per multiplier (Shoup). Both multiply
// plain residues: a multiplier s*R becomes s with one product by 1, and the
// walk's values keep the engine's form. Built only when the compiler has the
// instructions (CMake probe); run only on CPUs that have them
// (kernel_dispatch.cpp).
#include <immintrin.h>

#include "common/config.hpp"
#include "engine/lane_pool.hpp"
#include "engine/mulmod.hpp"
#include "engine/presence_map.hpp"

namespace veksieve {

namespace {

constexpr int vectors = 4;  // the 16 lanes of the kernel's row
constexpr uint64_t fma_prime_limit = uint64_t{1} << 50;

// A bit for each of four values, by their low 22 bits, whose two presence
// bits are set.
__attribute__((always_inline)) inline uint64_t probe_keys(const uint32_t* presence, uint32_t mask, __m256i key) {
  const __m256i block_mask = _mm256_set1_epi64x(mask);
  const __m256i low5 = _mm256_set1_epi64x(31);
  const __m256i bits = _mm256_cvtepu32_epi64(
      _mm256_i64gather_epi32(reinterpret_cast<const int*>(presence), _mm256_and_si256(key, block_mask), 4));
  const __m256i first = _mm256_and_si256(_mm256_srli_epi64(key, presence_first_shift), low5);
  const __m256i second = _mm256_and_si256(_mm256_srli_epi64(key, presence_second_shift), low5);
  const __m256i both = _mm256_and_si256(_mm256_srlv_epi64(bits, first), _mm256_srlv_epi64(bits, second));
  return static_cast<unsigned>(_mm256_movemask_pd(_mm256_castsi256_pd(_mm256_slli_epi64(both, 63))));
}

// z*s mod p for z, s < p < 2^50 held exactly in doubles, rounding to nearest:
// h = fl(z*s) and l = z*s - h (exact by FMA), |l| <= 2^-53 h < p/8. q, the
// nearest integer to h * fl(1/p), is within 0.5 + 2^-52 h/p < 0.75 of h/p, so
// z*s - q*p = (h - q*p) + l is an integer of magnitude below p: both steps
// are exact, and one addition of p to a negative result reduces it.
struct fma_modulus {
  __m256d p;
  __m256d inv;

  explicit fma_modulus(uint64_t prime)
      : p(_mm256_set1_pd(static_cast<double>(prime))), inv(_mm256_set1_pd(1.0 / static_cast<double>(prime))) {}

  __attribute__((always_inline)) __m256d mul(__m256d z, __m256d s) const {
    const __m256d h = _mm256_mul_pd(z, s);
    const __m256d l = _mm256_fmsub_pd(z, s, h);
    const __m256d q = _mm256_round_pd(_mm256_mul_pd(h, inv), _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    const __m256d r = _mm256_add_pd(_mm256_fnmadd_pd(q, p, h), l);
    return _mm256_add_pd(r, _mm256_and_pd(_mm256_cmp_pd(r, _mm256_setzero_pd(), _CMP_LT_OQ), p));
  }
};

struct fma_lanes {
  static constexpr int width = 4 * vectors;
  fma_modulus m;
  __m256d z[vectors];
  __m256d s[vectors];

  alignas(32) double z_memory[width] = {};
  alignas(32) double s_memory[width] = {};

  explicit fma_lanes(uint64_t p) : m(p) {}

  void set(int l, uint64_t value, uint64_t multiplier) {
    z_memory[l] = static_cast<double>(value);  // exact below 2^53
    s_memory[l] = static_cast<double>(multiplier);
  }
  void load() {
    for (int v = 0; v < vectors; ++v) {
      z[v] = _mm256_load_pd(z_memory + 4 * v);
      s[v] = _mm256_load_pd(s_memory + 4 * v);
    }
  }
  void store() {
    for (int v = 0; v < vectors; ++v) _mm256_store_pd(z_memory + 4 * v, z[v]);
  }
  void begin(const uint64_t* start, const uint64_t* multiplier) { begin_through_memory(*this, start, multiplier); }
  void take(uint64_t lanes, const uint64_t* start, const uint64_t* multiplier) {
    take_through_memory(*this, lanes, start, multiplier);
  }
  uint64_t value(int l) const {
    alignas(32) double zs[4];
    _mm256_store_pd(zs, z[l / 4]);
    return static_cast<uint64_t>(zs[l % 4]);
  }
  // z + 2^52 holds z in its low 52 mantissa bits, which give the key.
  __attribute__((always_inline)) uint64_t probe(const uint32_t* presence, uint32_t mask) const {
    const __m256d shift = _mm256_set1_pd(0x1p52);
    uint64_t hits = 0;
    for (int v = 0; v < vectors; ++v) {
      hits |= probe_keys(presence, mask, _mm256_castpd_si256(_mm256_add_pd(z[v], shift))) << (4 * v);
    }
    return hits;
  }
  __attribute__((always_inline)) void advance() {
    for (int v = 0; v < vectors; ++v) z[v] = m.mul(z[v], s[v]);
  }
};

// z*s mod p for z, s < p < 2^62, with w = floor(s*2^63/p) formed with s.
// zw/2^63 falls short of zs/p by less than z/2^63 < 1/2, so q* =
// floor(zw/2^63) lies in (zs/p - 1.5, zs/p]. In 32-bit halves, zw/2^63 =
// 2*z1*w1 + (z1*w0 + z0*w1)/2^31 + z0*w0/2^63 (the middle sum below 2^64 as
// z1 < 2^30 and w1 < 2^31); the quotient here drops the last term (below 2)
// and the middle's fraction, so q = q* - e with e in {0, 1, 2}. Then zs - qp
// lies in [0, 3.5p), below 2^64 for p < 2^62, so its low 64 bits, which need
// only the low halves of the products, are the value itself; subtracting 2p
// and then p where the result stays positive (signed compares, 2p < 2^63)
// reduces it. The middle terms of the low halves count mod 2^32 only: two
// vpmulld give all four, seven multiplications in all.
struct shoup_modulus {
  __m256i p, p_swapped, two_p;

  explicit shoup_modulus(uint64_t prime)
      : p(_mm256_set1_epi64x(static_cast<int64_t>(prime))),
        p_swapped(_mm256_set1_epi64x(static_cast<int64_t>(prime << 32 | prime >> 32))),
        two_p(_mm256_set1_epi64x(static_cast<int64_t>(2 * prime))) {}

  // floor(s*2^63/p) for s < p, which fits in 63 bits; one division.
  static uint64_t factor(uint64_t s, uint64_t p) {
    uint64_t q, r;
    asm("divq %4" : "=a"(q), "=d"(r) : "a"(s << 63), "d"(s >> 1), "rm"(p) : "cc");
    return q;
  }

  // r - d where that is not negative, else r; |r - d| < 2^63.
  __attribute__((always_inline)) static __m256i subtract_if_above(__m256i r, __m256i d) {
    const __m256i t = _mm256_sub_epi64(r, d);
    return _mm256_castpd_si256(
        _mm256_blendv_pd(_mm256_castsi256_pd(t), _mm256_castsi256_pd(r), _mm256_castsi256_pd(t)));
  }

  // The multiplier's parts: s, s with its halves exchanged, w, w1 and 2*w1.
  __attribute__((always_inline)) __m256i mul(__m256i z, __m256i s, __m256i s_swapped, __m256i w, __m256i w_high,
                                             __m256i w_high2) const {
    const __m256i z_high = _mm256_srli_epi64(z, 32);
    const __m256i middle_q = _mm256_add_epi64(_mm256_mul_epu32(z_high, w), _mm256_mul_epu32(z, w_high));
    const __m256i q = _mm256_add_epi64(_mm256_mul_epu32(z_high, w_high2), _mm256_srli_epi64(middle_q, 31));
    // The low halves of z0*s1 - q0*p1 (low) and z1*s0 - q1*p0 (high),
    // summed into the high half.
    const __m256i d = _mm256_sub_epi32(_mm256_mullo_epi32(z, s_swapped), _mm256_mullo_epi32(q, p_swapped));
    const __m256i middle = _mm256_add_epi64(_mm256_slli_epi64(d, 32), _mm256_and_si256(d, high_halves()));
    const __m256i r = _mm256_add_epi64(_mm256_sub_epi64(_mm256_mul_epu32(z, s), _mm256_mul_epu32(q, p)), middle);
    return subtract_if_above(subtract_if_above(r, two_p), p);
  }

  static __m256i high_halves() { return _mm256_set1_epi64x(static_cast<int64_t>(0xffffffff00000000)); }
};

struct shoup_lanes {
  static constexpr int width = 4 * vectors;
  shoup_modulus m;
  uint64_t prime;
  __m256i z[vectors];
  __m256i s[vectors];
  __m256i s_swapped[vectors];
  __m256i w[vectors];
  __m256i w_high[vectors];
  __m256i w_high2[vectors];
  // The walks of one step share a multiplier, and a prime's walks have few
  // steps: each multiplier's w is kept, by the multiplier's low bits, so
  // that few switches make a division (0 and its w, 0, fill it at first).
  static constexpr int kept = 16;
  uint64_t kept_s[kept] = {};
  uint64_t kept_w[kept] = {};

  alignas(32) uint64_t z_memory[width] = {};
  alignas(32) uint64_t s_memory[width] = {};
  alignas(32) uint64_t w_memory[width] = {};

  explicit shoup_lanes(uint64_t p) : m(p), prime(p) {}

  void set(int l, uint64_t value, uint64_t multiplier) {
    ASSERT(value < prime && multiplier < prime);
    z_memory[l] = value;
    s_memory[l] = multiplier;
    const auto slot = static_cast<size_t>((multiplier ^ multiplier >> 29) % kept);
    if (kept_s[slot] != multiplier) {
      kept_s[slot] = multiplier;
      kept_w[slot] = shoup_modulus::factor(multiplier, prime);
    }
    w_memory[l] = kept_w[slot];
  }
  void load() {
    for (int v = 0; v < vectors; ++v) {
      z[v] = _mm256_load_si256(reinterpret_cast<const __m256i*>(z_memory + 4 * v));
      s[v] = _mm256_load_si256(reinterpret_cast<const __m256i*>(s_memory + 4 * v));
      s_swapped[v] = _mm256_shuffle_epi32(s[v], 0xb1);
      w[v] = _mm256_load_si256(reinterpret_cast<const __m256i*>(w_memory + 4 * v));
      w_high[v] = _mm256_srli_epi64(w[v], 32);
      w_high2[v] = _mm256_add_epi64(w_high[v], w_high[v]);
    }
  }
  void store() {
    for (int v = 0; v < vectors; ++v) _mm256_store_si256(reinterpret_cast<__m256i*>(z_memory + 4 * v), z[v]);
  }
  void begin(const uint64_t* start, const uint64_t* multiplier) { begin_through_memory(*this, start, multiplier); }
  void take(uint64_t lanes, const uint64_t* start, const uint64_t* multiplier) {
    take_through_memory(*this, lanes, start, multiplier);
  }
  uint64_t value(int l) const {
    alignas(32) uint64_t zs[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(zs), z[l / 4]);
    return zs[l % 4];
  }
  __attribute__((always_inline)) uint64_t probe(const uint32_t* presence, uint32_t mask) const {
    uint64_t hits = 0;
    for (int v = 0; v < vectors; ++v) hits |= probe_keys(presence, mask, z[v]) << (4 * v);
    return hits;
  }
  __attribute__((always_inline)) void advance() {
    for (int v = 0; v < vectors; ++v) z[v] = m.mul(z[v], s[v], s_swapped[v], w[v], w_high[v], w_high2[v]);
  }
};

// The table's chains, four vectors of four, each stepping by the same
// multiplier with the walk's product: `Chains` holds them and gives
// values(v) (integers) and advance(). Each entry's presence bits are set as
// it is stored.
template <class Chains>
void build_chains(Chains& chains, uint64_t* table, uint64_t* keys, uint32_t* presence, uint32_t block_mask,
                  uint32_t length) {
  constexpr uint32_t width = 4 * vectors;
  const auto insert = [&](uint32_t j) {
    const uint64_t key = presence_key(table[j], block_mask);
    presence[static_cast<uint32_t>(key)] |= static_cast<uint32_t>(key >> 32);
    if (keys != nullptr) keys[j] = key;
  };
  uint32_t j = 0;
  for (; j + width <= length; j += width) {
    for (int v = 0; v < vectors; ++v) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(table + j + 4 * v), chains.values(v));
    }
    chains.advance();
    for (uint32_t c = 0; c < width; ++c) insert(j + c);
  }
  alignas(32) uint64_t rest[width];
  for (int v = 0; v < vectors; ++v) _mm256_store_si256(reinterpret_cast<__m256i*>(rest + 4 * v), chains.values(v));
  for (uint32_t c = 0; j + c < length; ++c) {
    table[j + c] = rest[c];
    insert(j + c);
  }
}

struct fma_chains {
  fma_modulus m;
  __m256d s;
  __m256d x[vectors];

  fma_chains(uint64_t p, const uint64_t* first, uint64_t multiplier)
      : m(p), s(_mm256_set1_pd(static_cast<double>(multiplier))) {
    for (int v = 0; v < vectors; ++v) {
      x[v] = _mm256_setr_pd(static_cast<double>(first[4 * v]), static_cast<double>(first[4 * v + 1]),
                            static_cast<double>(first[4 * v + 2]), static_cast<double>(first[4 * v + 3]));
    }
  }
  // x + 2^52 holds x in its low 52 mantissa bits.
  __m256i values(int v) const {
    const __m256d shift = _mm256_set1_pd(0x1p52);
    return _mm256_xor_si256(_mm256_castpd_si256(_mm256_add_pd(x[v], shift)), _mm256_castpd_si256(shift));
  }
  void advance() {
    for (int v = 0; v < vectors; ++v) x[v] = m.mul(x[v], s);
  }
};

struct shoup_chains {
  shoup_modulus m;
  __m256i s, s_swapped, w, w_high, w_high2;
  __m256i x[vectors];

  shoup_chains(uint64_t p, const uint64_t* first, uint64_t multiplier) : m(p) {
    const uint64_t quotient = shoup_modulus::factor(multiplier, p);
    s = _mm256_set1_epi64x(static_cast<int64_t>(multiplier));
    s_swapped = _mm256_shuffle_epi32(s, 0xb1);
    w = _mm256_set1_epi64x(static_cast<int64_t>(quotient));
    w_high = _mm256_srli_epi64(w, 32);
    w_high2 = _mm256_add_epi64(w_high, w_high);
    for (int v = 0; v < vectors; ++v) x[v] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(first + 4 * v));
  }
  __m256i values(int v) const { return x[v]; }
  void advance() {
    for (int v = 0; v < vectors; ++v) x[v] = m.mul(x[v], s, s_swapped, w, w_high, w_high2);
  }
};

}  // namespace

void build_table_avx2(uint64_t* table, uint64_t* keys, uint32_t* presence, uint32_t block_mask, uint32_t length,
                      const uint64_t* first, uint64_t multiplier, const prime_modulus& m) {
  if (m.p < fma_prime_limit) {
    fma_chains chains(m.p, first, multiplier);
    build_chains(chains, table, keys, presence, block_mask, length);
  } else {
    shoup_chains chains(m.p, first, multiplier);
    build_chains(chains, table, keys, presence, block_mask, length);
  }
}

void walk_avx2(const stride_view& view, const walk_layout& walks, const prime_modulus& m) {
  if (m.p < fma_prime_limit) {
    fma_lanes lanes(m.p);
    run_lanes(view, walks.plan, lanes);
  } else {
    shoup_lanes lanes(m.p);
    run_lanes(view, walks.plan, lanes);
  }
}

// `rounds` products z[l] = z[l] * s[l] mod p in each of the 16 lanes, by the
// product the walk uses for p: for the tests and the benchmark.
void avx2_lane_products(uint64_t* z, const uint64_t* s, uint64_t p, uint64_t rounds) {
  const auto run = [&](auto& lanes) {
    for (int l = 0; l < lanes.width; ++l) lanes.set(l, z[l], s[l]);
    lanes.load();
    for (uint64_t i = 0; i < rounds; ++i) lanes.advance();
    for (int l = 0; l < lanes.width; ++l) z[l] = lanes.value(l);
  };
  if (p < fma_prime_limit) {
    fma_lanes lanes(p);
    run(lanes);
  } else {
    shoup_lanes lanes(p);
    run(lanes);
  }
}

uint64_t lane_factor_avx2(const prime_modulus&) { return 1; }

}  // namespace veksieve
