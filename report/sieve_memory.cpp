// The engine's memory callbacks (see the header).
#include "report/sieve_memory.hpp"

#include <cstdlib>

namespace veksieve {

void* sieve_alloc(void*, uint32_t size) { return std::calloc(size, 1); }

void sieve_free(void*, void* block) { std::free(block); }

}  // namespace veksieve
