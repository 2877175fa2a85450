// The modular product the engine uses: the 128-bit variant, whose fixed-factor
// form needs no division, by default (about twice as fast in the engine on
// the benchmark workloads); the x87 variant when VEKSIEVE_X87_MULMOD is set.
// Inputs below 3p; lazy results in [0, 2p), full ones in [0, p).
#pragma once

#if (defined(__x86_64__) || defined(__i386__)) && defined(VEKSIEVE_X87_MULMOD)
#include "engine/mulmod_x87.hpp"
namespace veksieve {
namespace mulmod_variant = x87;
}
#else
#include "engine/mulmod_portable.hpp"
namespace veksieve {
namespace mulmod_variant = portable;
}
#endif

namespace veksieve {

using mulmod_variant::fixed_factor;
using mulmod_variant::make_fixed_factor;
using mulmod_variant::mulmod_full;
using mulmod_variant::mulmod_lazy;

}  // namespace veksieve
