// The baby-step/giant-step search for one prime: a table of -2^-(nmin + j*M)
// with a presence map keyed by the low 16 bits of each entry, one walk over
// k*2^t for the t of each active sequence's class inside one stride, and a
// clearing that touches only the groups the table used.
#include "common/macros.hpp"
#include "engine/engine_state.hpp"
#include "engine/mulmod.hpp"

namespace veksieve {

namespace {

constexpr uint32_t key_mask = 0xFFFF;

// Independent product chains in the table build: enough to cover the
// product's latency (about 4 products in flight, bench/mulmod_bench).
constexpr uint32_t table_chains = 4;

ALWAYS_INLINE uint32_t key_of(uint64_t value) { return static_cast<uint32_t>(value) & key_mask; }

}  // namespace

void engine_state::build_table(const prime_modulus& m) {
  const uint64_t p = m.p;
  uint64_t* const table = table_;
  const uint32_t length = table_length_;

  // The values: T[j+1] = T[j] * 2^-M. One chain would wait a full product's
  // latency per entry, so four chains run side by side, each stepping by
  // 2^-4M; the values are the same, the table build three times as fast.
  const uint64_t y = pow_half_mod(stride_, m);
  uint64_t x[table_chains];
  x[0] = p - reduce_once(pow_half_mod(nmin_, m), p);
  for (uint32_t c = 1; c < table_chains; ++c) x[c] = mulmod_full(x[c - 1], y, m);
  const uint64_t y2 = mulmod_lazy(y, y, m);
  const fixed_factor y4 = make_fixed_factor(mulmod_lazy(y2, y2, m), m);
  uint32_t j = 0;
  for (; j + table_chains <= length; j += table_chains) {
    for (uint32_t c = 0; c < table_chains; ++c) {
      table[j + c] = x[c];
      x[c] = mulmod_full(x[c], y4, m);
    }
  }
  for (uint32_t c = 0; j < length; ++j, ++c) table[j] = x[c];

  // The presence map and chains, in ascending j so that each chain runs from
  // the highest entry down.
  uint32_t* const chain = chain_;
  presence_group* const presence = presence_;
  for (j = 0; j < length; ++j) {
    const uint32_t key = key_of(table[j]);
    presence_group& group = presence[key >> 5];
    group.bits |= uint32_t{1} << (key & 31);
    chain[j] = group.head;
    group.head = (group.head & key_mask) | (j << 16);  // j < 65536 (sizing)
  }
}

void engine_state::walk(size_t i, const prime_modulus& m) {
  const uint64_t* const table = table_;
  const uint32_t* const chain = chain_;
  const presence_group* const presence = presence_;
  const uint64_t step = static_cast<uint64_t>(step_[i]);
  const uint64_t stride = stride_;
  const fixed_factor multiplier = make_fixed_factor(step_multiplier_[i], m);
  uint64_t z = start_value_[i];
  uint64_t t = static_cast<uint64_t>(residue_[i]);

  // A match T[j] = k*2^t gives k*2^(nmin + t + j*M) = -1. The sizing keeps
  // every such n below 2^32. Entry 0 is checked through the head word's
  // lower half (always 0); the chain then yields descending j.
  const auto report = [&](uint32_t j) {
    const uint32_t n = nmin_ + static_cast<uint32_t>(t) + j * stride_;
    callbacks_.report_factor(callbacks_.context, static_cast<uint32_t>(i), n, static_cast<int64_t>(m.p));
  };
  do {
    const uint32_t key = key_of(z);
    const presence_group group = presence[key >> 5];
    if (UNLIKELY((group.bits >> (key & 31)) & 1)) {
      uint32_t j = group.head & key_mask;
      if (table[j] == z) report(j);
      for (j = group.head >> 16; j != 0; j = chain[j] >> 16) {
        if (table[j] == z) report(j);
      }
    }
    z = mulmod_full(z, multiplier, m);
    t += step;
  } while (t < stride);
}

void engine_state::clear_presence() {
  for (uint32_t j = table_length_; j-- > 0;) {
    presence_[key_of(table_[j]) >> 5] = {0, 0};
  }
}

void engine_state::stride_search(const prime_modulus& m) {
  build_table(m);
  if (callbacks_.report_factor != nullptr) {
    for (size_t i = 0; i < count_; ++i) {
      if (active_[i]) walk(i, m);
    }
  }
  clear_presence();
}

}  // namespace veksieve
