// A walk kernel as the engine sees it: one row of kernel_dispatch.cpp. Each
// row names the kernel, its lanes and the primes its products are exact for,
// and hooks into the engine's per-prime work. A hook left empty means the
// portable version, so a new kernel is one file of hooks and one row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "engine/mulmod.hpp"
#include "engine/table_start.hpp"
#include "engine/walk_layout.hpp"

namespace veksieve {

struct kernel_backend {
  std::string_view name;  // as VEKSIEVE_KERNEL names it
  int lanes = 1;          // 1: the walks whole, one at a time (walk_layout::pieces); else the lane plan
  uint64_t max_prime = 0;      // exact for odd primes up to here; above, the fallback kernel walks
  uint32_t table_chains = 8;   // independent chains of the table build, a power of 2
  bool (*supported)() = nullptr;  // this build holds it and this CPU runs it

  // The walk of one prime (always given).
  void (*walk)(const stride_view& view, const walk_layout& walks, const prime_modulus& m) = nullptr;

  // The factor that turns the engine's form of a value into the lanes' form
  // with one product; empty: the lanes hold the engine's form.
  uint64_t (*lane_factor)(const prime_modulus& m) = nullptr;
  // The table from the first `table_chains` values, each chain stepping by
  // `multiplier` (lane form): each entry's presence bits are set as it is
  // formed (in the map of `block_mask` + 1 blocks) and its presence_key
  // kept in keys[j] unless keys is null.
  void (*build_table)(uint64_t* table, uint64_t* keys, uint32_t* presence, uint32_t block_mask, uint32_t length,
                      const uint64_t* first, uint64_t multiplier, const prime_modulus& m) = nullptr;
  // The table's first powers 2^-nmin and 2^-M (as pow_half_pair) with the
  // presence map's first `blocks` blocks, and the heads unless null, cleared
  // beside them.
  half_power_pair (*table_start)(uint32_t nmin, uint32_t stride, const prime_modulus& m, uint32_t* presence,
                                 uint16_t* head, uint32_t blocks) = nullptr;
  // powers[i]: values[i] (lane form) raised to exponents[i] >= 1, in the
  // engine's form.
  void (*raise_powers)(const uint64_t* values, const uint64_t* exponents, size_t count, const prime_modulus& m,
                       uint64_t* powers) = nullptr;
  // From this prime up, a group member's power-residue test is its leader's
  // power times a small power of 2^((p-1)/d), a few products, rather than a
  // power of its own. Below it the kernel raises a whole batch in about the
  // time of one value, so that fewer values save nothing.
  uint64_t members_from_leaders_from = 0;
  // starts[l] *= multipliers[l]^exponents[l] for every lane, the multipliers
  // in lane form: the lanes' first values.
  void (*raise_starts)(uint64_t* starts, const uint64_t* multipliers, const uint32_t* exponents,
                       const prime_modulus& m) = nullptr;
  // A constant of a walk's multiplier (lane form) that the walk's product
  // needs, formed once per step and prime and queued beside the multiplier
  // (lane_plan::queue_quotient); empty: none.
  uint64_t (*multiplier_quotient)(uint64_t multiplier, const prime_modulus& m) = nullptr;
  // A whole-table comparison fast enough that a table the walks are
  // expected to hit rarely goes without chains; empty: every table has them.
  find_entry_function find_entry = nullptr;
};

// Every kernel this build holds, the portable ones first.
std::span<const kernel_backend> kernel_backends();
// The kernel named by the environment variable VEKSIEVE_KERNEL when this CPU
// runs it, else the fastest it runs.
const kernel_backend& chosen_kernel();
// The portable kernel of many chains, which walks the primes above a
// kernel's max_prime.
const kernel_backend& fallback_kernel();

}  // namespace veksieve
