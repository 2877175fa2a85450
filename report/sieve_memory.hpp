// The engine's memory callbacks: zero-filled blocks from the process heap,
// which the engine relies on. Safe to call from several threads at once.
#pragma once

#include <cstdint>

namespace veksieve {

void* sieve_alloc(void* context, uint32_t size);
void sieve_free(void* context, void* block);

}  // namespace veksieve
