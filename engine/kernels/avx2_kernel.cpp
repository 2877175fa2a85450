// The walk in AVX2 lanes: products of doubles with FMA, 16 lanes (four
// vectors of four) in flight, the presence bits fetched by one gather per
// vector. Built only when the compiler has the instructions (CMake probe);
// run only on CPUs that have them (kernel_dispatch.cpp). The lanes multiply
// plain residues: a multiplier s*R becomes s with one product by 1.
#include <immintrin.h>

#include "common/config.hpp"
#include "engine/lane_pool.hpp"
#include "engine/mulmod.hpp"

namespace veksieve {

namespace {

constexpr int vectors = 4;  // the 16 lanes of the kernel's row

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
  __attribute__((always_inline)) uint64_t probe(const uint32_t* presence) const {
    const __m256d shift = _mm256_set1_pd(0x1p52);
    const __m256i block_mask = _mm256_set1_epi64x(presence_block_mask);
    const __m256i low5 = _mm256_set1_epi64x(31);
    uint64_t hits = 0;
    for (int v = 0; v < vectors; ++v) {
      const __m256i key = _mm256_castpd_si256(_mm256_add_pd(z[v], shift));
      const __m256i bits = _mm256_cvtepu32_epi64(_mm256_i64gather_epi32(
          reinterpret_cast<const int*>(presence), _mm256_and_si256(key, block_mask), 4));
      const __m256i first = _mm256_and_si256(_mm256_srli_epi64(key, presence_first_shift), low5);
      const __m256i second = _mm256_and_si256(_mm256_srli_epi64(key, presence_second_shift), low5);
      const __m256i both = _mm256_and_si256(_mm256_srlv_epi64(bits, first), _mm256_srlv_epi64(bits, second));
      const __m256i bit = _mm256_slli_epi64(both, 63);
      hits |= uint64_t(static_cast<unsigned>(_mm256_movemask_pd(_mm256_castsi256_pd(bit)))) << (4 * v);
    }
    return hits;
  }
  __attribute__((always_inline)) void advance() {
    for (int v = 0; v < vectors; ++v) z[v] = m.mul(z[v], s[v]);
  }
};

}  // namespace

void walk_avx2(const stride_view& view, const walk_layout& walks, const prime_modulus& m) {
  fma_lanes lanes(m.p);
  run_lanes(view, walks.plan, lanes);
}

uint64_t lane_factor_avx2(const prime_modulus&) { return 1; }

}  // namespace veksieve
