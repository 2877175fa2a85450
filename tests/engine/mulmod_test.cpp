// The modular products against 128-bit arithmetic: the Montgomery product
// through its representation for p up to 2^62, the IFMA lanes' product and
// the AVX2 lanes' products.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "engine/mulmod.hpp"
#include "engine_test_support.hpp"

namespace veksieve {
namespace {

using test::mul_ref;

constexpr uint64_t largest_prime_below_2_48 = 281474976710597;

// Primes at the edges of 32 and 48 bits, and odd moduli.
const uint64_t moduli[] = {5,          7,          11,         2147483647, 2147483659, 4294967291,
                           4294967311, 999999999989, 1000000000039, largest_prime_below_2_48,
                           (uint64_t{1} << 48) - 1};

// The Montgomery product of the forms of a and b, turned back, against a*b
// mod p; the context's constants against their definitions.
TEST(mulmod, montgomery_matches_128_bit_arithmetic) {
  const uint64_t seed = 20261209;
  std::printf("montgomery random seed %llu\n", static_cast<unsigned long long>(seed));
  std::mt19937_64 random(seed);
  std::vector<uint64_t> odd_moduli(std::begin(moduli), std::end(moduli));
  for (const uint64_t p : {(uint64_t{1} << 50) - 27, (uint64_t{1} << 52) - 47, (uint64_t{1} << 62) - 57,
                           (uint64_t{1} << 62) - 1}) {
    odd_moduli.push_back(p);
  }
  std::uniform_int_distribution<uint64_t> any_odd(3, product_max_prime);
  for (int i = 0; i < 2000; ++i) odd_moduli.push_back(any_odd(random) | 1);
  for (const uint64_t p : odd_moduli) {
    const prime_modulus m = make_modulus(p);
    const uint64_t r = static_cast<uint64_t>((static_cast<unsigned __int128>(1) << 64) % p);
    ASSERT_EQ(m.one, r) << p;
    ASSERT_EQ(m.r2, mul_ref(r, r, p)) << p;
    ASSERT_EQ(m.inv * p, 1u) << p;
    std::uniform_int_distribution<uint64_t> any(0, UINT64_MAX);
    std::uniform_int_distribution<uint64_t> near_p(p > 1000 ? p - 1000 : 0, p - 1);
    std::vector<uint64_t> values = {0, 1, 2, p - 1, p - 2, UINT64_MAX};
    for (int i = 0; i < (p == odd_moduli[0] ? 20000 : 50); ++i) {
      values.push_back(any(random));
      values.push_back(near_p(random));
    }
    for (size_t i = 0; i + 1 < values.size(); ++i) {
      const uint64_t a = values[i], b = values[values.size() - 1 - i];
      const uint64_t x = to_residue(a, m), y = to_residue(b, m);
      ASSERT_LT(x, p);
      ASSERT_EQ(x, mul_ref(a % p, r, p)) << "a=" << a << " p=" << p;
      const uint64_t product = mulmod_full(x, y, m);
      ASSERT_LT(product, p);
      ASSERT_EQ(from_residue(product, m), mul_ref(a % p, b % p, p)) << "a=" << a << " b=" << b << " p=" << p;
    }
  }
}

// Every kernel's table build (the portable one for a row without it) against
// 128-bit arithmetic: each chain steps by y*R^-1, in the engine's form, for
// primes up to the kernel's limit and operands near p; with the presence map
// it sets, the keys it keeps, and the search of the table a hit makes.
TEST(mulmod, kernel_table_builds_match_128_bit_arithmetic) {
  for (const kernel_backend* kernel : test::kernels_under_test()) {
    if (kernel->build_table == nullptr && kernel->find_entry == nullptr) continue;
    SCOPED_TRACE(std::string("kernel ") + std::string(kernel->name));
    std::mt19937_64 random(52);
    const uint64_t limit = std::min(kernel->max_prime, product_max_prime);
    std::vector<uint64_t> odd_moduli = {3, 5, 1000000000039, limit, limit - 2, (uint64_t{1} << 51) + 1};
    for (const uint64_t edge : {(uint64_t{1} << 50) - 27, (uint64_t{1} << 52) - 47, (uint64_t{1} << 52) + 21}) {
      if (edge <= limit) odd_moduli.push_back(edge);  // where the lanes change products
    }
    std::uniform_int_distribution<uint64_t> any_odd(3, limit);
    for (int i = 0; i < 200; ++i) odd_moduli.push_back(any_odd(random) | 1);
    const uint32_t chains = kernel->table_chains, used = chains * 40 - 3;  // the last ones take the tail
    for (const uint64_t p : odd_moduli) {
      std::uniform_int_distribution<uint64_t> below_p(0, p - 1);
      std::uniform_int_distribution<uint64_t> near_p(p > 64 ? p - 64 : 0, p - 1);
      const prime_modulus m = make_modulus(p);
      std::vector<uint64_t> first(chains), table(used), keys(used);
      for (uint32_t c = 0; c < chains; ++c) first[c] = c % 2 ? near_p(random) : below_p(random);
      const uint64_t y = p > 64 ? near_p(random) : below_p(random);
      if (kernel->build_table != nullptr) {
        // Both sizes of map, the short table's and the long one's.
        const uint32_t block_mask = presence_blocks_for(p % 4 == 1 ? presence_wide_length : 0) - 1;
        std::vector<uint32_t> presence(presence_block_count), want_presence(presence_block_count);
        const uint64_t multiplier = kernel->lane_factor ? mulmod_full(y, kernel->lane_factor(m), m) : y;
        kernel->build_table(table.data(), keys.data(), presence.data(), block_mask, used, first.data(), multiplier,
                            m);
        const uint64_t step = mul_ref(y, test::pow_ref((p + 1) / 2, 64, p), p);  // y / R
        for (uint32_t j = 0; j < used; ++j) {
          const uint64_t want = j < chains ? first[j] : mul_ref(table[j - chains], step, p);
          ASSERT_EQ(table[j], want) << "entry " << j << " p=" << p;
          ASSERT_EQ(keys[j], presence_key(want, block_mask)) << "entry " << j << " p=" << p;
          want_presence[presence_block(want, block_mask)] |= presence_bits(want);
        }
        ASSERT_EQ(presence, want_presence) << "p=" << p;
      } else {
        for (uint32_t j = 0; j < used; ++j) table[j] = below_p(random);
      }
      // The whole-table comparison a hit makes without chains: the first equal
      // entry from any start, or none.
      const uint32_t from = static_cast<uint32_t>(random() % used);
      for (const find_entry_function find : {kernel->find_entry, &find_entry}) {
        if (find == nullptr) continue;
        for (const uint64_t z : {table[used - 1], table[from], table[random() % used], p}) {
          const auto equal = std::find(table.begin() + from, table.end(), z);
          ASSERT_EQ(find(table.data(), from, used, z), static_cast<uint32_t>(equal - table.begin()))
              << "from " << from << " p=" << p;
        }
      }
    }
  }
}

#if defined(VEKSIEVE_HAVE_AVX2_KERNEL)
}  // namespace
void avx2_lane_products(uint64_t* z, const uint64_t* s, uint64_t p, uint64_t rounds);
namespace {

// The AVX2 walk's products, of doubles below 2^50 and of integers above, on
// both sides of 2^50 and up to 2^62, operands near 0 and near p.
TEST(mulmod, avx2_lane_products_match_128_bit_arithmetic) {
  if (!__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("fma")) GTEST_SKIP() << "no AVX2 here";
  const uint64_t seed = 26;
  std::printf("avx2 random seed %llu\n", static_cast<unsigned long long>(seed));
  std::mt19937_64 random(seed);
  std::vector<uint64_t> odd_moduli = {3, 1000000000039, (uint64_t{1} << 50) - 27, (uint64_t{1} << 50) + 55,
                                      (uint64_t{1} << 52) - 47, (uint64_t{1} << 62) - 57, (uint64_t{1} << 62) - 1};
  std::uniform_int_distribution<uint64_t> any_odd(3, product_max_prime);
  for (int i = 0; i < 2000; ++i) odd_moduli.push_back(any_odd(random) >> (random() % 40) | 1);
  for (const uint64_t p : odd_moduli) {
    std::uniform_int_distribution<uint64_t> below_p(0, p - 1);
    const uint64_t edges[] = {0, 1, 2, p - 1, p - 2, p / 2};
    for (int round = 0; round < 8; ++round) {
      uint64_t z[16], s[16], want[16];
      for (int l = 0; l < 16; ++l) {
        const int kind = (l + round) % 4;  // an edge, near p, or anywhere below p
        z[l] = kind == 0 ? edges[(l + round) % 6] : kind == 1 ? p - 1 - below_p(random) % 64 : below_p(random);
        s[l] = round % 2 ? edges[l % 6] : kind == 2 ? p - 1 - below_p(random) % 64 : below_p(random);
        if (s[l] >= p) s[l] %= p;
        if (z[l] >= p) z[l] %= p;
        want[l] = mul_ref(z[l], s[l], p);
      }
      avx2_lane_products(z, s, p, 1);
      for (int l = 0; l < 16; ++l) ASSERT_EQ(z[l], want[l]) << "lane " << l << " p=" << p;
    }
  }
}
#endif

}  // namespace
}  // namespace veksieve
