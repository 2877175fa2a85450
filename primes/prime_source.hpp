// The candidate prime source: a segmented sieve of Eratosthenes over the odd
// numbers that hands out every prime above pmin in ascending order.
// (Skeleton: the full state record and iterator are being built.)
#pragma once

#include <cstdint>

namespace veksieve {

struct prime_source;

}  // namespace veksieve
