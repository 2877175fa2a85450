#include "engine/sieve_engine.hpp"

namespace veksieve {

int64_t sieve_engine(int64_t, int64_t pmax, const sequence_set&, const engine_callbacks&, double) {
  return pmax + 1;  // skeleton
}

}  // namespace veksieve
