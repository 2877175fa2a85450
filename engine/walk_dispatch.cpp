// Which walk kernels this build holds (the CMake probe defines
// VEKSIEVE_HAVE_AVX2_KERNEL and VEKSIEVE_HAVE_AVX512_KERNEL) and which this
// CPU runs (__builtin_cpu_supports), their exact ranges and their names.
#include "common/config.hpp"
#include "engine/mulmod.hpp"
#include "engine/table_start.hpp"
#include "engine/walk_kernel.hpp"

namespace veksieve {

bool kernel_supported(walk_kernel kernel) {
  switch (kernel) {
    case walk_kernel::scalar:
    case walk_kernel::interleaved:
      return true;
    case walk_kernel::avx2:
#if defined(VEKSIEVE_HAVE_AVX2_KERNEL)
      return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#else
      return false;
#endif
    case walk_kernel::avx512:
#if defined(VEKSIEVE_HAVE_AVX512_KERNEL)
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512ifma");
#else
      return false;
#endif
  }
  return false;
}

int kernel_lanes(walk_kernel kernel) {
  switch (kernel) {
    case walk_kernel::scalar:
      return 1;
    case walk_kernel::interleaved:
      return walk_interleaved_lanes;
    case walk_kernel::avx2:
      return walk_avx2_lanes;
    case walk_kernel::avx512:
      return walk_avx512_lanes;
  }
  return 1;
}

uint64_t kernel_prime_limit(walk_kernel kernel) {
  switch (kernel) {
    case walk_kernel::avx2:
      return avx2_kernel_max_prime;
    case walk_kernel::avx512:
      return avx512_kernel_max_prime;
    default:
      return product_max_prime;
  }
}

walk_kernel best_walk_kernel() {
  if (kernel_supported(walk_kernel::avx512)) return walk_kernel::avx512;
  if (kernel_supported(walk_kernel::avx2)) return walk_kernel::avx2;
  return walk_kernel::interleaved;
}

std::string_view kernel_name(walk_kernel kernel) {
  constexpr std::string_view names[] = {"scalar", "interleaved", "avx2", "avx512"};
  return names[static_cast<int>(kernel)];
}

std::optional<walk_kernel> kernel_from_name(std::string_view name) {
  for (const walk_kernel kernel : all_walk_kernels) {
    if (kernel_name(kernel) == name) return kernel;
  }
  return std::nullopt;
}

// A build without a SIMD kernel still links; kernel_supported() never lets
// the engine reach these.
#if !defined(VEKSIEVE_HAVE_AVX2_KERNEL)
void walk_avx2(const stride_view&, const lane_plan&, uint64_t) { ASSERT(false); }
#endif
#if !defined(VEKSIEVE_HAVE_AVX512_KERNEL)
void walk_avx512(const stride_view&, const lane_plan&, uint64_t) { ASSERT(false); }
void raise_starts_avx512(uint64_t*, const uint64_t*, const uint32_t*, uint64_t) { ASSERT(false); }
void build_table_avx512(uint64_t*, uint64_t*, uint32_t*, uint32_t, const uint64_t*, uint64_t, uint64_t) {
  ASSERT(false);
}
half_power_pair table_start_avx512(uint32_t, uint32_t, const prime_modulus&, uint32_t*, uint16_t*) {
  ASSERT(false);
  return {};
}
uint32_t find_entry_avx512(const uint64_t*, uint32_t, uint32_t length, uint64_t) {
  ASSERT(false);
  return length;
}
void power_batch_avx512(const uint64_t*, const uint64_t*, size_t, uint64_t, uint64_t, uint64_t*) { ASSERT(false); }
#endif

}  // namespace veksieve
