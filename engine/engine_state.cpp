// Engine set-up: the per-sequence arrays and stride blocks from the
// allocation callback (zero-filled, which the presence map relies on), the
// grouping of adjacent sequences of one k, and the parity values.
#include "engine/engine_state.hpp"

#include <algorithm>
#include <cstdlib>
#include <new>
#include <string_view>

#include "common/config.hpp"
#include "common/macros.hpp"

namespace veksieve {

namespace {

walk_kernel chosen_walk_kernel() {
  const char* name = std::getenv("VEKSIEVE_KERNEL");
  if (name != nullptr) {
    const std::optional<walk_kernel> named = kernel_from_name(name);
    if (named && kernel_supported(*named)) return *named;
  }
  return best_walk_kernel();
}

}  // namespace

engine_state::engine_state(const sequence_set& sequences, const engine_callbacks& callbacks,
                           const stride_sizing& sizing)
    : k_(sequences.k.data()),
      residue_(sequences.residue.data()),
      step_(sequences.step.data()),
      count_(sequences.k.size()),
      nmin_(static_cast<uint32_t>(sequences.nmin)),
      callbacks_(callbacks),
      step_lcm_(static_cast<uint32_t>(sizing.step_lcm)),
      stride_(sizing.stride),
      table_length_(sizing.table_length),
      kernel_(chosen_walk_kernel()) {
  ASSERT(sizing.ok());
  start_value_ = static_cast<uint64_t*>(obtain(count_ * sizeof(uint64_t)));
  class_exponent_ = static_cast<int32_t*>(obtain(count_ * sizeof(int32_t)));
  group_tag_ = static_cast<int32_t*>(obtain(count_ * sizeof(int32_t)));
  group_size_ = static_cast<int32_t*>(obtain(count_ * sizeof(int32_t)));
  active_ = static_cast<uint32_t*>(obtain(count_ * sizeof(uint32_t)));
  parity_value_ = static_cast<int64_t*>(obtain(count_ * sizeof(int64_t)));
  table_ = static_cast<uint64_t*>(obtain(table_length_ * sizeof(uint64_t)));
  chain_ = static_cast<uint16_t*>(obtain(table_length_ * sizeof(uint16_t)));
  presence_ = static_cast<uint32_t*>(obtain(presence_block_count * sizeof(uint32_t)));
  head_ = static_cast<uint16_t*>(obtain(presence_block_count * sizeof(uint16_t)));
  if (!(start_value_ && class_exponent_ && group_tag_ && group_size_ && active_ &&
        parity_value_ && table_ && chain_ && presence_ && head_)) {
    release_all();
    throw std::bad_alloc();
  }
  build_groups();
  build_filters();
  group_passes_.resize(count_);
  passing_.resize(leaders_.size());
  if (kernel_supported(walk_kernel::avx512)) presence_keys_.resize(table_length_);
}

engine_state::~engine_state() { release_all(); }

void engine_state::release_all() {
  // The stride blocks first, then the per-sequence arrays; nothing leaks when
  // several engines run one after another.
  give_back(table_);
  give_back(chain_);
  give_back(presence_);
  give_back(head_);
  give_back(start_value_);
  give_back(class_exponent_);
  give_back(group_tag_);
  give_back(group_size_);
  give_back(active_);
  give_back(parity_value_);
}

void* engine_state::obtain(size_t bytes) {
  ASSERT(bytes <= UINT32_MAX);
  if (callbacks_.allocate == nullptr) return std::calloc(bytes, 1);
  return callbacks_.allocate(callbacks_.context, static_cast<uint32_t>(bytes));
}

void engine_state::give_back(void* block) {
  if (block == nullptr) return;
  if (callbacks_.release == nullptr) {
    std::free(block);
  } else {
    callbacks_.release(callbacks_.context, block);
  }
}

void engine_state::build_groups() {
  // A group is a run of adjacent sequences with one k and one step and
  // ascending residues (as the sequence table lays out a split k). A
  // sequence that breaks the run starts a group of its own, so that a
  // member's tag is always positive and its step always the leader's.
  size_t leader = 0;
  for (size_t i = 0; i < count_; ++i) {
    const int64_t exponent = (int64_t{residue_[i]} + nmin_) % step_[i];
    class_exponent_[i] = static_cast<int32_t>(exponent);
    const bool joins = i > 0 && k_[i] == k_[leader] && step_[i] == step_[leader] && residue_[i] > residue_[i - 1];
    if (!joins) {
      if (i > 0) group_size_[leader] = static_cast<int32_t>(i - leader - 1);
      group_tag_[i] = 0;
      leader = i;
    } else {
      group_tag_[leader] = -1;
      group_tag_[i] = residue_[i] - residue_[leader];
    }
  }
  group_size_[leader] = static_cast<int32_t>(count_ - leader - 1);

  // -k when k = 1 (mod 3), -2k when k = 2 (mod 3): the value that must be a
  // square for a candidate n of that k's parity. 0 marks a multiple of 3.
  for (size_t i = 0; i < count_; ++i) {
    const int64_t k = k_[i];
    parity_value_[i] = -(k % 3) * k;
  }
}

void engine_state::build_filters() {
  character_slot_.assign(count_, quadratic_characters::none);
  leaders_.clear();
  for (size_t i = 0; i < count_; ++i) {
    if (group_tag_[i] <= 0) leaders_.push_back(static_cast<uint32_t>(i));
    // A k that 3 divides needs no character.
    if (group_tag_[i] <= 0 && parity_value_[i] != 0 && k_[i] > 0) {
      character_slot_[i] = characters_.add(static_cast<uint32_t>(k_[i]));
    }
  }
  slot_steps_.assign(step_, step_ + count_);
  std::sort(slot_steps_.begin(), slot_steps_.end());
  slot_steps_.erase(std::unique(slot_steps_.begin(), slot_steps_.end()), slot_steps_.end());
  step_slot_.resize(count_);
  walk_length_.resize(count_);
  for (size_t i = 0; i < count_; ++i) {
    const uint64_t step = static_cast<uint32_t>(step_[i]);
    walk_length_[i] = static_cast<uint32_t>((stride_ - static_cast<uint32_t>(residue_[i]) + step - 1) / step);
    const auto slot = std::lower_bound(slot_steps_.begin(), slot_steps_.end(), static_cast<uint32_t>(step_[i]));
    step_slot_[i] = static_cast<uint32_t>(slot - slot_steps_.begin());
  }
  step_powers_.assign(slot_steps_.size(), {});
  step_degrees_.assign(slot_steps_.size(), {});
  smooth_steps_ = true;
  for (size_t slot = 0; slot < slot_steps_.size(); ++slot) {
    uint32_t rest = slot_steps_[slot];
    for (uint32_t t = 0; t < order_test_prime_count; ++t) {
      uint8_t v = 0;
      for (; rest % order_test_primes[t] == 0; rest /= order_test_primes[t]) ++v;
      step_degrees_[slot].valuation[t] = v;
      least_step_valuation_[t] = slot == 0 ? v : std::min<uint32_t>(least_step_valuation_[t], v);
    }
    smooth_steps_ = smooth_steps_ && rest == 1;
  }
  // Residues and class exponents lie below their step.
  const uint32_t largest_step = slot_steps_.empty() ? 1 : slot_steps_.back();
  pow2_bound_ = std::min(largest_step + 1, pow2_table_bound);
}

void engine_state::sieve_prime(int64_t p) {
  ASSERT(p >= 3 && (p & 1) && static_cast<uint64_t>(p) <= product_max_prime);
  const prime_modulus m = make_modulus(static_cast<uint64_t>(p));
  const walk_kernel kernel = kernel_for(static_cast<uint64_t>(p));
  ++prime_stamp_;
  if (mark_active(m, kernel)) stride_search(m, kernel);
}

}  // namespace veksieve
