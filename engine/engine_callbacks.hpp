// The engine's view of its caller. Every callback gets `context` back, so
// that several engines can run side by side, each with its own reporter.
#pragma once

#include <atomic>
#include <cstdint>

namespace veksieve {

struct engine_callbacks {
  void* context = nullptr;
  // A solution: k[index]*2^n == -1 (mod p). n may lie above nmax and need
  // not be a remaining candidate; the callback filters.
  void (*report_factor)(void* context, uint32_t index, uint32_t n, int64_t p) = nullptr;
  // Zero-filled storage of `size` bytes, and its release.
  void* (*allocate)(void* context, uint32_t size) = nullptr;
  void (*release)(void* context, void* block) = nullptr;
  // The prime about to be sieved, each time its bit 18 changes.
  void (*report_progress)(void* context, int64_t p) = nullptr;
  // When set, the engine stops before the next prime it would examine and
  // returns that prime (not sieved; every prime below it was).
  const std::atomic<bool>* stop_requested = nullptr;
};

}  // namespace veksieve
