// The modular product the engine uses: Montgomery form with 64-bit integers,
// exact for p < 2^62, with no division and no floating-point mode. Values
// live in its representation (to_residue, from_residue); inputs below p give
// results below p.
#pragma once

#include "common/config.hpp"
#include "engine/mulmod_montgomery.hpp"
#include "engine/prime_modulus.hpp"

namespace veksieve {

using montgomery::fixed_factor;
using montgomery::from_residue;
using montgomery::make_fixed_factor;
using montgomery::make_modulus;
using montgomery::mulmod_full;
using montgomery::mulmod_lazy;
using montgomery::prime_modulus;
using montgomery::residue_one;
using montgomery::to_residue;

// The largest prime the engine's products serve.
constexpr uint64_t product_max_prime = montgomery::max_prime;
static_assert(product_max_prime >= static_cast<uint64_t>(engine_pmax_limit),
              "the products must serve every prime a range can reach");

}  // namespace veksieve
