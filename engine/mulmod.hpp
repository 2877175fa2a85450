// The modular product the engine uses: Montgomery form with 64-bit integers
// (exact for p < 2^62, no division, no floating-point mode) by default; the
// x87 variant (p < 2^48, needs the x87 mode) when VEKSIEVE_X87_MULMOD is set.
// Values live in the variant's representation (to_residue, from_residue);
// inputs below p give full results below p, lazy ones below 2p.
#pragma once

#include "common/config.hpp"
#include "engine/prime_modulus.hpp"

#if (defined(__x86_64__) || defined(__i386__)) && defined(VEKSIEVE_X87_MULMOD)
#include "engine/mulmod_x87.hpp"
namespace veksieve {
namespace mulmod_variant = x87;
}
#else
#include "engine/mulmod_montgomery.hpp"
namespace veksieve {
namespace mulmod_variant = montgomery;
}
#endif

namespace veksieve {

using mulmod_variant::fixed_factor;
using mulmod_variant::from_residue;
using mulmod_variant::make_fixed_factor;
using mulmod_variant::make_modulus;
using mulmod_variant::mulmod_full;
using mulmod_variant::mulmod_lazy;
using mulmod_variant::prime_modulus;
using mulmod_variant::residue_one;
using mulmod_variant::to_residue;

// The largest prime the engine's products serve.
constexpr uint64_t product_max_prime = mulmod_variant::max_prime;
static_assert(product_max_prime >= static_cast<uint64_t>(engine_pmax_limit),
              "the products must serve every prime a range can reach");

}  // namespace veksieve
