// The walk kernels, one row each: the portable ones, always built, and those
// built for an instruction set when the compiler has it (the CMake probe
// defines VEKSIEVE_HAVE_AVX2_KERNEL and VEKSIEVE_HAVE_AVX512_KERNEL), each
// run only on CPUs that have it (__builtin_cpu_supports).
#include <cstdlib>

#include "common/config.hpp"
#include "engine/kernels/kernel_backend.hpp"

namespace veksieve {

void walk_scalar(const stride_view& view, const walk_layout& walks, const prime_modulus& m);
void walk_interleaved(const stride_view& view, const walk_layout& walks, const prime_modulus& m);

// 16 lanes of AVX2 (avx2_kernel.cpp): products of doubles with FMA below
// 2^50, of 64-bit integers with a quotient per multiplier (Shoup) above, each
// exact where it runs, the bounds proved at the products.
void walk_avx2(const stride_view& view, const walk_layout& walks, const prime_modulus& m);
uint64_t lane_factor_avx2(const prime_modulus& m);
void build_table_avx2(uint64_t* table, uint64_t* keys, uint32_t* presence, uint32_t block_mask, uint32_t length,
                      const uint64_t* first, uint64_t multiplier, const prime_modulus& m);
constexpr int avx2_lanes = 16;
constexpr uint64_t avx2_max_prime = product_max_prime;

// 32 lanes of AVX-512 IFMA products (avx512_*.cpp): the Montgomery product of
// one word of 52 bits below 2^52; above, up to 2^62, the product by a fixed
// multiplier (its quotient formed once) for the walk and the table, and the
// Montgomery product of two words for the powers. The table build runs in
// the lanes too, 32 chains wide, and clears the last map beside its first
// powers; the filters' powers and the lanes' first values are raised in the
// lanes.
void walk_avx512(const stride_view& view, const walk_layout& walks, const prime_modulus& m);
uint64_t lane_factor_avx512(const prime_modulus& m);
void build_table_avx512(uint64_t* table, uint64_t* keys, uint32_t* presence, uint32_t block_mask, uint32_t length,
                        const uint64_t* first, uint64_t multiplier, const prime_modulus& m);
half_power_pair table_start_avx512(uint32_t nmin, uint32_t stride, const prime_modulus& m, uint32_t* presence,
                                   uint16_t* head, uint32_t blocks);
void raise_powers_avx512(const uint64_t* values, const uint64_t* exponents, size_t count, const prime_modulus& m,
                         uint64_t* powers);
uint64_t multiplier_quotient_avx512(uint64_t multiplier, const prime_modulus& m);
void raise_starts_avx512(uint64_t* starts, const uint64_t* multipliers, const uint32_t* exponents,
                         const prime_modulus& m);
uint32_t find_entry_avx512(const uint64_t* table, uint32_t from, uint32_t length, uint64_t z);
constexpr int avx512_lanes = 32;
constexpr uint64_t avx512_max_prime = product_max_prime;

namespace {

bool always() { return true; }

// 8 chains of the engine's product cover its latency (about 12 cycles) at one
// product issued every 1.5 cycles.
constexpr int interleaved_lanes = 8;

const kernel_backend rows[] = {
    {.name = "scalar", .lanes = 1, .max_prime = product_max_prime, .supported = always, .walk = walk_scalar},
    {.name = "interleaved",
     .lanes = interleaved_lanes,
     .max_prime = product_max_prime,
     .supported = always,
     .walk = walk_interleaved},
#if defined(VEKSIEVE_HAVE_AVX2_KERNEL)
    {.name = "avx2",
     .lanes = avx2_lanes,
     .max_prime = avx2_max_prime,
     .table_chains = avx2_lanes,
     .supported = [] { return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"); },
     .walk = walk_avx2,
     .lane_factor = lane_factor_avx2,
     .build_table = build_table_avx2},
#endif
#if defined(VEKSIEVE_HAVE_AVX512_KERNEL)
    {.name = "avx512",
     .lanes = avx512_lanes,
     .max_prime = avx512_max_prime,
     .table_chains = avx512_lanes,
     .supported = [] {
       return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512ifma") &&
              __builtin_cpu_supports("avx512dq");
     },
     .walk = walk_avx512,
     .lane_factor = lane_factor_avx512,
     .build_table = build_table_avx512,
     .table_start = table_start_avx512,
     .raise_powers = raise_powers_avx512,
     .members_from_leaders_from = (uint64_t{1} << 52) + 1,  // above the one-word product
     .raise_starts = raise_starts_avx512,
     .multiplier_quotient = multiplier_quotient_avx512,
     .find_entry = find_entry_avx512},
#endif
};

}  // namespace

std::span<const kernel_backend> kernel_backends() { return rows; }

const kernel_backend& fallback_kernel() { return rows[1]; }

const kernel_backend& chosen_kernel() {
  const char* name = std::getenv("VEKSIEVE_KERNEL");
  for (const kernel_backend& row : rows) {
    if (name != nullptr && row.name == name && row.supported()) return row;
  }
  // The rows run from slowest to fastest.
  for (size_t i = std::size(rows); i-- > 0;) {
    if (rows[i].supported()) return rows[i];
  }
  return fallback_kernel();
}

}  // namespace veksieve
