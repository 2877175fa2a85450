// The walk kernels in plain C++ with the engine's product: one chain at a
// time (the portable reference of the others), and eight interleaved chains.
#pragma once

#include <span>

#include "engine/modular_powers.hpp"
#include "engine/mulmod.hpp"
#include "engine/walk_kernel.hpp"

namespace veksieve {

// The factor that turns a multiplier into the kernel's lane form with one
// product: the AVX2 lanes multiply plain residues (s = s*R * 1 / R), the IFMA
// lanes Montgomery forms with R = 2^52 (s*2^52 = s*R * 2^-12*R / R).
inline uint64_t lane_factor(walk_kernel kernel, const prime_modulus& m) {
  switch (kernel) {
    case walk_kernel::avx2:
      return 1;
    case walk_kernel::avx512:
      return pow_half_mod(12, m);
    default:
      return residue_one(m);
  }
}

void walk_scalar(const stride_view& view, std::span<const walk_piece> pieces, const prime_modulus& m);
void walk_interleaved(const stride_view& view, const lane_plan& plan, const prime_modulus& m);

}  // namespace veksieve
