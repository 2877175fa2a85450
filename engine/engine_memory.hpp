// The engine's large blocks, obtained through the caller's allocation
// callback (calloc and free when it has none) and all given back, in the
// reverse order, when the engine ends.
#pragma once

#include <cstddef>
#include <vector>

#include "engine/engine_callbacks.hpp"

namespace veksieve {

class engine_memory {
 public:
  explicit engine_memory(const engine_callbacks& callbacks) : callbacks_(callbacks) {}
  ~engine_memory();
  engine_memory(const engine_memory&) = delete;
  engine_memory& operator=(const engine_memory&) = delete;

  // `count` zero-filled values; throws std::bad_alloc when the callback
  // returns null (what was obtained before is given back with the engine).
  template <class T>
  T* take(size_t count) {
    return static_cast<T*>(obtain(count * sizeof(T)));
  }

 private:
  void* obtain(size_t bytes);
  engine_callbacks callbacks_;
  std::vector<void*> blocks_;
};

}  // namespace veksieve
