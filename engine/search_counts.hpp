// What an engine's search did, summed over the primes it sieved: the counts
// behind the account of where its time goes (bench/engine_bench prints them
// per prime). Each is added once per prime or per rare event, never per step.
#pragma once

#include <cstdint>

namespace veksieve {

struct search_counts {
  uint64_t primes = 0;
  uint64_t searched = 0;        // primes that left a sequence to walk: a table was built
  uint64_t filter_batches = 0;  // batches of powers the filters raised (each one dependent chain)
  uint64_t filter_powers = 0;   // values raised in them
  uint64_t walks = 0;           // sequences walked
  uint64_t table_entries = 0;
  uint64_t walk_steps = 0;      // each a product and a probe of the presence map
  uint64_t lane_steps = 0;      // the steps the kernel's lanes took, the padding at walk ends included
  uint64_t hits = 0;            // probes whose presence bits were set: the table was searched
};

}  // namespace veksieve
