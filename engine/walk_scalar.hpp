// The walk kernels in plain C++ with the engine's product: one chain at a
// time (the portable reference of the others), and eight interleaved chains.
#pragma once

#include <span>

#include "engine/mulmod.hpp"
#include "engine/walk_kernel.hpp"

namespace veksieve {

void walk_scalar(const stride_view& view, std::span<const walk_piece> pieces, const prime_modulus& m);
void walk_interleaved(const stride_view& view, std::span<const walk_piece> pieces, const prime_modulus& m);

}  // namespace veksieve
