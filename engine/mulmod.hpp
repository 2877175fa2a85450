// The modular product the engine uses: the x87 variant where the compiler
// targets x86 (and VEKSIEVE_PORTABLE_MULMOD is not defined), the portable one
// elsewhere. Inputs below 3p; lazy results in [0, 2p), full ones in [0, p).
#pragma once

#if (defined(__x86_64__) || defined(__i386__)) && !defined(VEKSIEVE_PORTABLE_MULMOD)
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
