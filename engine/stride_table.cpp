// The stride table's build: its first powers, the entries in several
// independent chains of products, the presence bits and the block chains.
#include "engine/stride_table.hpp"

#include <cstring>

#include "common/config.hpp"

namespace veksieve {

stride_table::stride_table(uint32_t nmin, uint32_t stride, uint32_t length, engine_memory& memory)
    : nmin_(nmin),
      stride_(stride),
      length_(length),
      blocks_(presence_blocks_for(length)),
      table_(memory.take<uint64_t>(length)),
      chain_(memory.take<uint16_t>(length)),
      presence_(memory.take<uint32_t>(blocks_)),
      head_(memory.take<uint16_t>(blocks_)) {}

// 2^-nmin and 2^-M. A kernel that clears the map beside the powers does so
// for a long table, which touches most of the map anyway.
half_power_pair stride_table::start(const prime_modulus& m, const kernel_backend& kernel) {
  if (kernel.table_start != nullptr && map_dirty_ && length_ >= presence_clear_all_length) {
    const half_power_pair powers = kernel.table_start(nmin_, stride_, m, presence_, heads_dirty_ ? head_ : nullptr, blocks_);
    map_dirty_ = heads_dirty_ = false;
    return powers;
  }
  clear_presence();
  return pow_half_pair(nmin_, stride_, m, 0, [](int) {});
}

void stride_table::build(const prime_modulus& m, const kernel_backend& kernel, uint64_t lane_factor,
                         uint64_t steps) {
  // T[j+1] = T[j] * 2^-M. One chain would wait a full product's latency per
  // entry, so several run side by side, chain c holding the entries c, c +
  // chains, ..., each stepping by 2^-(chains*M). The chains' starts double
  // in number with each power y^span, so that their products overlap.
  const uint32_t chains = kernel.table_chains;
  ASSERT(chains <= max_table_chains);
  uint64_t x[max_table_chains];
  const half_power_pair powers = start(m, kernel);
  uint64_t y_chains = powers.b;
  x[0] = m.p - powers.a;  // 2^-nmin is not 0
  for (uint32_t span = 1; span < chains; span *= 2) {
    for (uint32_t c = 0; c < span; ++c) x[span + c] = mulmod_full(x[c], y_chains, m);
    y_chains = mulmod_full(y_chains, y_chains, m);
  }
  // A hit compares the whole table, a chain costs about as much per entry as
  // a compare per hit: chains pay when the walks are expected to hit often.
  chained_ = kernel.find_entry == nullptr || static_cast<double>(steps) * presence_hit_share(length_) > scan_max_hits_;
  map_dirty_ = true;
  heads_dirty_ = chained_;
  if (kernel.build_table == nullptr) {
    build_portable(m, x, y_chains);
    return;
  }
  if (chained_ && keys_.size() < length_) keys_.resize(length_);
  uint64_t* const keys = chained_ ? keys_.data() : nullptr;
  kernel.build_table(table_, keys, presence_, block_mask(), length_, x, mulmod_full(y_chains, lane_factor, m), m);
  if (chained_) insert_entries([keys](uint32_t j) { return keys[j]; }, false);
}

void stride_table::build_portable(const prime_modulus& m, uint64_t* x, uint64_t multiplier) {
  constexpr uint32_t chains = kernel_backend{}.table_chains;
  uint64_t* const table = table_;
  uint32_t j = 0;
  for (; j + chains <= length_; j += chains) {
    for (uint32_t c = 0; c < chains; ++c) {
      table[j + c] = x[c];
      x[c] = mulmod_full(x[c], multiplier, m);
    }
  }
  for (uint32_t c = 0; j < length_; ++j, ++c) table[j] = x[c];
  const uint32_t mask = block_mask();
  insert_entries([table, mask](uint32_t j) { return presence_key(table[j], mask); }, true);
}

// The chains, in ascending j so that each runs from the highest entry down to
// entry 0, which ends every chain and is always compared; and the presence
// bits, unless the kernel's build has set them.
template <class KeyOf>
ALWAYS_INLINE void stride_table::insert_entries(KeyOf key_of, bool set_bits) {
  uint16_t* const chain = chain_;
  uint16_t* const head = head_;
  uint32_t* const presence = presence_;
  for (uint32_t j = 0; j < length_; ++j) {
    const uint64_t key = key_of(j);
    const auto block = static_cast<uint32_t>(key);
    if (set_bits) presence[block] |= static_cast<uint32_t>(key >> 32);
    chain[j] = head[block];
    head[block] = static_cast<uint16_t>(j);  // j < 65536 (sizing)
  }
}

void stride_table::clear_presence() {
  if (!map_dirty_) return;
  // A long table touches most blocks: clearing the whole map at once is cheaper.
  if (length_ >= presence_clear_all_length) {
    std::memset(presence_, 0, blocks_ * sizeof(uint32_t));
    if (heads_dirty_) std::memset(head_, 0, blocks_ * sizeof(uint16_t));
  } else {
    for (uint32_t j = length_; j-- > 0;) {
      const uint32_t block = presence_block(table_[j], block_mask());
      presence_[block] = 0;
      head_[block] = 0;
    }
  }
  map_dirty_ = heads_dirty_ = false;
}

stride_view stride_table::view(const prime_modulus& m, const kernel_backend& kernel,
                               const engine_callbacks* callbacks, uint64_t* hits) const {
  return {table_,
          chain_,
          presence_,
          block_mask(),
          chained_ ? head_ : nullptr,
          kernel.find_entry != nullptr ? kernel.find_entry : find_entry,
          length_,
          nmin_,
          stride_,
          static_cast<int64_t>(m.p),
          callbacks,
          hits};
}

}  // namespace veksieve
