// The range sieved by several workers at once. The range is cut into chunks
// of primes, handed out in ascending p; each worker sieves its chunk with an
// engine of its own and only records what it finds. The calling thread is the
// committer: it takes the chunks strictly in p order, so every result, status
// line and checkpoint comes out as one thread would produce it.
#pragma once

#include <atomic>
#include <cstdint>

#include "engine/sieve_engine.hpp"
#include "engine/stride_sizing.hpp"
#include "report/committer.hpp"

namespace veksieve {

struct parallel_outcome {
  // The first prime not committed: above the range's end when it is done;
  // every prime below it is sieved and committed.
  int64_t frontier = 0;
  bool done = false;           // every chunk up to the range's end is committed
  bool out_of_memory = false;  // a worker could not get its memory
};

// Where the engines get their memory (zero-filled blocks) and give it back.
struct engine_memory {
  void* (*allocate)(void* context, uint32_t size) = nullptr;  // null: the heap
  void (*release)(void* context, void* block) = nullptr;
  void* context = nullptr;
};

// Sieves the primes above pmin up to min(pmax, the engine's limit) with
// `threads` workers. `stop` ends the run at the committed frontier; it is set
// here too when a worker runs out of memory or a result cannot be saved.
parallel_outcome sieve_in_parallel(const sequence_set& sequences, const stride_sizing& sizing, int64_t pmin,
                                   int64_t pmax, int threads, committer& commit, std::atomic<bool>& stop,
                                   const engine_memory& memory = {});

// The CPUs this process may run on (at least 1).
int available_cpus();

}  // namespace veksieve
