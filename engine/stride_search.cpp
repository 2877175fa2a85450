// The baby-step/giant-step search for one prime: a table of -2^-(nmin + j*M)
// with a presence map keyed by the low 22 bits of each entry, and one walk
// over k*2^t for the t of each active sequence's class inside one stride. The
// walks are cut into pieces and handed to the kernel chosen for the prime.
// The map keeps its bits until the next table starts; the AVX-512 kernel
// clears it while the table's first powers wait on their products.
#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

#include "common/config.hpp"
#include "common/macros.hpp"
#include "engine/engine_state.hpp"
#include "engine/mulmod.hpp"
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
  // values k*2^t, each the last times 2^step. The scalar kernel takes a walk
  // whole; the others take pieces, each piece's start the previous one's
  // times 2^(step * piece), each about as long as the steps per lane
  // (config.hpp) and one product to start. The multipliers and jumps depend
  // only on the step, so they are formed once per distinct step and prime.
  const bool whole = kernel == walk_kernel::scalar;
  const uint64_t per_lane = steps / (walk_pieces_per_lane * static_cast<uint64_t>(kernel_lanes(kernel)));
  const auto piece = whole ? UINT32_MAX
                           : static_cast<uint32_t>(std::clamp<uint64_t>(per_lane, walk_piece_min_steps,
                                                                        walk_piece_max_steps));
  // Full pieces first and the shorter ends last, longest first, so that the
  // lanes mostly start and finish together.
  size_t full = 0, ends = 0;
  for (const uint32_t i : active_list_) {
    full += walk_length_[i] / piece;
    ends += walk_length_[i] % piece != 0;
  }
  pieces_.resize(full + ends);
  walk_piece* next_full = pieces_.data();
  walk_piece* next_end = pieces_.data() + full;

  const uint64_t factor = lane_factor(kernel, m);
  const uint64_t stamp = prime_stamp_;
  for (const uint32_t i : active_list_) {
    const auto step = static_cast<uint32_t>(step_[i]);
    step_powers& powers = step_powers_[step_slot_[i]];
    if (powers.stamp != stamp) {
      const uint64_t multiplier = pow2_(step, m);
      powers = {stamp, whole ? multiplier : mulmod_full(multiplier, factor, m), 0};
    }
    uint64_t start = start_value_[i];
    uint64_t t = static_cast<uint32_t>(residue_[i]);
    uint32_t left = walk_length_[i];
    if (left > piece && powers.jump == 0) powers.jump = pow2_(step * piece, m);  // below the stride
    for (; left >= piece; left -= piece) {
      *next_full++ = {start, powers.lane_multiplier, t, step, piece, i};
      if (left > piece) start = mulmod_full(start, powers.jump, m);
      t += uint64_t{piece} * step;
    }
    if (left != 0) *next_end++ = {start, powers.lane_multiplier, t, step, left, i};
  }
  if (whole) return;
  std::sort(pieces_.begin() + static_cast<ptrdiff_t>(full), pieces_.end(),
            [](const walk_piece& a, const walk_piece& b) { return a.count > b.count; });
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
        walk_interleaved(view, pieces_, m);
        break;
      case walk_kernel::avx2:
        walk_avx2(view, pieces_, m.p);
        break;
      case walk_kernel::avx512:
        walk_avx512(view, pieces_, m.p);
        break;
    }
  }
}

}  // namespace veksieve
