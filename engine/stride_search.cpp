// The baby-step/giant-step search for one prime: a table of -2^-(nmin + j*M)
// with a presence map keyed by the low 22 bits of each entry, and one walk
// over k*2^t for the t of each active sequence's class inside one stride. The
// walks are laid over the lanes of the kernel chosen for the prime and
// handed to it. The map keeps its bits until the next table starts; the
// AVX-512 kernel clears it while the table's first powers wait on their
// products.
#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

#include "common/config.hpp"
#include "common/macros.hpp"
#include "engine/engine_state.hpp"
#include "engine/mulmod.hpp"
#include "engine/power_residue.hpp"
#include "engine/table_start.hpp"
#include "engine/walk_scalar.hpp"

namespace veksieve {

walk_kernel engine_state::kernel_for(uint64_t p) const {
  return p <= kernel_prime_limit(kernel_) ? kernel_ : walk_kernel::interleaved;
}

void engine_state::build_table(const prime_modulus& m, walk_kernel kernel, uint64_t steps) {
  const uint64_t p = m.p;
  uint64_t* const table = table_;
  const uint32_t length = table_length_;

  // The values: T[j+1] = T[j] * 2^-M. One chain would wait a full product's
  // latency per entry, so several chains run side by side, chain c holding
  // the entries c, c + chains, ..., each stepping by 2^-(chains*M). The
  // chains' starts double in number with each power y^span, so that their
  // products overlap instead of waiting on one another.
  const uint32_t chains = kernel == walk_kernel::avx512 ? table_chains_avx512 : table_chains;
  uint64_t x[table_chains_avx512];
  half_power_pair start;
  if (kernel == walk_kernel::avx512 && map_dirty_ && length >= presence_clear_all_length) {
    start = table_start_avx512(nmin_, stride_, m, presence_, heads_dirty_ ? head_ : nullptr);
    map_dirty_ = heads_dirty_ = false;
  } else {
    clear_presence();
    start = pow_half_pair(nmin_, stride_, m, 0, [](int) {});
  }
  const uint64_t first = start.a;
  uint64_t y_chains = start.b;
  x[0] = p - reduce_once(first, p);
  for (uint32_t span = 1; span < chains; span *= 2) {
    for (uint32_t c = 0; c < span; ++c) x[span + c] = mulmod_full(x[c], y_chains, m);
    y_chains = mulmod_full(y_chains, y_chains, m);
  }
  // A hit compares the whole table, a chain costs about as much per entry as
  // a compare per hit: chains pay when the walks are expected to hit often.
  chained_ = kernel != walk_kernel::avx512 ||
             static_cast<double>(steps) * presence_hit_share(length) > scan_max_hits_;
  map_dirty_ = true;
  heads_dirty_ = chained_;
  if (kernel == walk_kernel::avx512) {
    uint64_t* const keys = chained_ ? presence_keys_.data() : nullptr;
    build_table_avx512(table, keys, presence_, length, x, mulmod_full(y_chains, lane_factor(kernel, m), m), p);
    if (chained_) insert_entries(length, [keys](uint32_t j) { return keys[j]; }, false);
    return;
  }
  const fixed_factor step = make_fixed_factor(y_chains, m);
  uint32_t j = 0;
  for (; j + table_chains <= length; j += table_chains) {
    for (uint32_t c = 0; c < table_chains; ++c) {
      table[j + c] = x[c];
      x[c] = mulmod_full(x[c], step, m);
    }
  }
  for (uint32_t c = 0; j < length; ++j, ++c) table[j] = x[c];
  insert_entries(length, [table](uint32_t j) { return presence_key(table[j]); }, true);
}

// The chains, in ascending j so that each runs from the highest entry down to
// entry 0, which ends every chain and is always compared; and the presence
// bits, unless the AVX-512 build has set them.
template <class KeyOf>
ALWAYS_INLINE void engine_state::insert_entries(uint32_t length, KeyOf key_of, bool set_bits) {
  uint16_t* const chain = chain_;
  uint16_t* const head = head_;
  uint32_t* const presence = presence_;
  for (uint32_t j = 0; j < length; ++j) {
    const uint64_t key = key_of(j);
    const auto block = static_cast<uint32_t>(key);
    if (set_bits) presence[block] |= static_cast<uint32_t>(key >> 32);
    chain[j] = head[block];
    head[block] = static_cast<uint16_t>(j);  // j < 65536 (sizing)
  }
}

void engine_state::cut_walks(const prime_modulus& m, walk_kernel kernel, uint64_t steps) {
  // Each active sequence walks t = residue, residue + step, ... below M: its
  // values k*2^t, each the last times 2^step, formed once per distinct step
  // and prime. The scalar kernel takes the walks whole.
  const uint64_t factor = lane_factor(kernel, m);
  const uint64_t stamp = prime_stamp_;
  for (const uint32_t i : active_list_) {
    step_powers& powers = step_powers_[step_slot_[i]];
    if (powers.stamp != stamp) {
      const uint64_t multiplier = pow2_(static_cast<uint32_t>(step_[i]), m);
      powers = {stamp, multiplier, mulmod_full(multiplier, factor, m)};
    }
  }
  if (kernel == walk_kernel::scalar) {
    pieces_.clear();
    for (const uint32_t i : active_list_) {
      pieces_.push_back({start_value_[i], step_powers_[step_slot_[i]].multiplier, static_cast<uint32_t>(residue_[i]),
                         static_cast<uint32_t>(step_[i]), walk_length_[i], i});
    }
    return;
  }

  // The other kernels take the walks end to end, one run per lane, each walk
  // padded to whole blocks; the run is a whole number of blocks too, so that
  // the padded walks fill the lanes without a gap.
  constexpr uint32_t block = walk_switch_block;
  const auto lanes = static_cast<uint32_t>(kernel_lanes(kernel));
  uint64_t padded = steps;
  for (const uint32_t i : active_list_) padded += (block - walk_length_[i] % block) % block;
  const uint64_t blocks = (padded + uint64_t{lanes} * block - 1) / (uint64_t{lanes} * block);
  ASSERT(blocks * block < UINT32_MAX);  // the sizing keeps the walks far shorter
  lane_plan& plan = plan_;
  const auto run = static_cast<uint32_t>(blocks * block);
  plan.run = run;
  // The buffers only grow, so that a prime sizes nothing; slots that no
  // lane switches into are never read.
  const auto at_least = [](auto& buffer, size_t size) {
    if (buffer.size() < size) buffer.resize(size);
  };
  at_least(plan.switches, blocks);
  at_least(plan.queue_start, blocks * lanes);
  at_least(plan.queue_multiplier, blocks * lanes);
  at_least(plan.segments, active_list_.size() + lanes);  // each lane's first may split a walk
  at_least(plan.lane_segments, lanes + 1);
  at_least(lane_offsets_, lanes);
  uint64_t* const switches = plan.switches.data();
  uint64_t* const queue_start = plan.queue_start.data();
  uint64_t* const queue_multiplier = plan.queue_multiplier.data();
  lane_segment* const segment = plan.segments.data();
  uint32_t* const lane_segments = plan.lane_segments.data();
  uint32_t* const offsets = lane_offsets_.data();
  std::fill_n(switches, blocks, 0);
  std::fill_n(offsets, lanes, 0);
  lane_segments[0] = 0;
  // Free of branches but the loops'. A lane's run starts at any offset into
  // a walk and takes its first value from block 0's slot; a later walk
  // starts at offset 0 where a block starts. A lane's last segment, or the
  // next one, sets where the lane's segments end.
  uint32_t lane = 0, filled = 0, segments = 0;
  for (const uint32_t i : active_list_) {
    const step_powers& powers = step_powers_[step_slot_[i]];
    const auto step = static_cast<uint32_t>(step_[i]);
    const uint64_t start = start_value_[i];
    uint64_t t = static_cast<uint32_t>(residue_[i]);
    for (uint32_t offset = 0, left = walk_length_[i]; left != 0;) {
      ASSERT(lane < lanes);
      const uint32_t b = filled / block;
      const size_t slot = size_t{b} * lanes + lane;
      switches[b] |= uint64_t{1} << lane;
      queue_start[slot] = start;
      queue_multiplier[slot] = powers.lane_multiplier;
      offsets[lane] |= offset;
      const uint32_t count = std::min(left, run - filled);
      segment[segments++] = {t, step, i, filled, count};
      offset += count;
      left -= count;
      t += uint64_t{count} * step;
      filled += (count + block - 1) / block * block;
      lane_segments[lane + 1] = segments;
      const uint32_t full = filled == run;  // by masks: a branch would guess wrong
      lane += full;
      filled &= full - 1;
    }
  }
  for (uint32_t l = lane + 1; l <= lanes; ++l) lane_segments[l] = segments;
  for (uint32_t l = filled == 0 ? lane : lane + 1; l < lanes; ++l) {
    queue_start[l] = 0;  // idle
    queue_multiplier[l] = 0;
  }

  // A run that starts inside a walk starts from k*2^t times 2^(step*offset).
  if (kernel == walk_kernel::avx512) {
    raise_starts_avx512(queue_start, queue_multiplier, offsets, m.p);
    return;
  }
  // The others raise the walks' own multipliers: a lane that starts inside a
  // walk has it as its first segment.
  lane_bases_.resize(lanes);
  lane_exponents_.resize(lanes);
  lane_powers_.resize(lanes);
  size_t raised = 0;
  for (uint32_t l = 0; l < lanes; ++l) {
    if (offsets[l] == 0) continue;
    const uint32_t walk = segment[lane_segments[l]].index;
    lane_bases_[raised] = step_powers_[step_slot_[walk]].multiplier;
    lane_exponents_[raised++] = offsets[l];
  }
  power_batch(lane_bases_.data(), lane_exponents_.data(), raised, m, lane_powers_.data());
  raised = 0;
  for (uint32_t l = 0; l < lanes; ++l) {
    if (offsets[l] != 0) queue_start[l] = mulmod_full(queue_start[l], lane_powers_[raised++], m);
  }
}

void engine_state::clear_presence() {
  if (!map_dirty_) return;
  // A long table touches most blocks: clearing the whole map at once is cheaper.
  if (table_length_ >= presence_clear_all_length) {
    std::memset(presence_, 0, presence_block_count * sizeof(uint32_t));
    if (heads_dirty_) std::memset(head_, 0, presence_block_count * sizeof(uint16_t));
  } else {
    for (uint32_t j = table_length_; j-- > 0;) {
      const uint32_t block = presence_block(table_[j]);
      presence_[block] = 0;
      head_[block] = 0;
    }
  }
  map_dirty_ = heads_dirty_ = false;
}

void engine_state::stride_search(const prime_modulus& m, walk_kernel kernel) {
  uint64_t steps = 0;
  for (const uint32_t i : active_list_) steps += walk_length_[i];
  build_table(m, kernel, steps);
  if (callbacks_.report_factor != nullptr) {
    cut_walks(m, kernel, steps);
    const stride_view view{table_, chain_,  presence_, chained_ ? head_ : nullptr, table_length_, nmin_,
                           stride_, static_cast<int64_t>(m.p), &callbacks_};
    switch (kernel) {
      case walk_kernel::scalar:
        walk_scalar(view, pieces_, m);
        break;
      case walk_kernel::interleaved:
        walk_interleaved(view, plan_, m);
        break;
      case walk_kernel::avx2:
        walk_avx2(view, plan_, m.p);
        break;
      case walk_kernel::avx512:
        walk_avx512(view, plan_, m.p);
        break;
    }
  }
}

}  // namespace veksieve
