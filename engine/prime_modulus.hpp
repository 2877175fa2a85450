// One step of reduction from [0, 2p) to [0, p), shared by the scalar product,
// the powers and the kernels.
#pragma once

#include <cstdint>

#include "common/macros.hpp"

namespace veksieve {

// r - p when that is not negative, else r: one step from [0, 2p) to [0, p).
ALWAYS_INLINE uint64_t reduce_once(uint64_t r, uint64_t p) {
  const int64_t s = static_cast<int64_t>(r - p);
  return s >= 0 ? static_cast<uint64_t>(s) : r;
}

}  // namespace veksieve
