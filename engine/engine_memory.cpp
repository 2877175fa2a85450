// The engine's blocks: requested through a 32-bit size, as the callback takes.
#include "engine/engine_memory.hpp"

#include <cstdint>
#include <cstdlib>
#include <new>

#include "common/macros.hpp"

namespace veksieve {

void* engine_memory::obtain(size_t bytes) {
  ASSERT(bytes <= UINT32_MAX);
  blocks_.reserve(blocks_.size() + 1);  // so that a block once obtained is always kept
  void* block = callbacks_.allocate == nullptr
                    ? std::calloc(bytes, 1)
                    : callbacks_.allocate(callbacks_.context, static_cast<uint32_t>(bytes));
  if (block == nullptr) throw std::bad_alloc();
  blocks_.push_back(block);
  return block;
}

engine_memory::~engine_memory() {
  for (auto block = blocks_.rbegin(); block != blocks_.rend(); ++block) {
    if (callbacks_.release == nullptr) {
      std::free(*block);
    } else {
      callbacks_.release(callbacks_.context, *block);
    }
  }
}

}  // namespace veksieve
