// The scalar walk kernels, the reporting of matches that every kernel shares,
// and the choice of kernel: what this build holds and this CPU runs.
#include "engine/walk_scalar.hpp"

#include "common/config.hpp"
#include "engine/lane_pool.hpp"

namespace veksieve {

namespace {

// Eight chains of the engine's product, stepped in turn: each waits for its
// own product only, so eight products are in flight.
struct interleaved_lanes {
  static constexpr int width = walk_interleaved_lanes;
  const prime_modulus& m;
  uint64_t z[width] = {};
  uint64_t s[width] = {};

  void set(int l, uint64_t value, uint64_t multiplier) {
    z[l] = value;
    s[l] = multiplier;
  }
  void load() {}
  void store() {}
  void begin(const uint64_t* start, const uint64_t* multiplier) { begin_through_memory(*this, start, multiplier); }
  void take(uint64_t lanes, const uint64_t* start, const uint64_t* multiplier) {
    take_through_memory(*this, lanes, start, multiplier);
  }
  uint64_t value(int l) const { return z[l]; }
  ALWAYS_INLINE uint64_t probe(const uint32_t* presence) const {
    uint64_t hits = 0;
    for (int l = 0; l < width; ++l) hits |= uint64_t{present(presence, z[l])} << l;
    return hits;
  }
  ALWAYS_INLINE void advance() {
    for (int l = 0; l < width; ++l) z[l] = mulmod_full(z[l], s[l], m);
  }
};

}  // namespace

void report_matches(const stride_view& view, uint64_t z, uint32_t index, uint64_t t) {
  // A table without chains (a short one of the AVX-512 kernel) is compared
  // whole, in ascending j; else entry 0 first, then the chain of z's block, in
  // descending j, which ends at entry 0. The sizing keeps every n below 2^32.
  const auto report = [&](uint32_t j) {
    const uint32_t n = view.nmin + static_cast<uint32_t>(t) + j * view.stride;
    view.callbacks->report_factor(view.callbacks->context, index, n, view.p);
  };
  if (view.head == nullptr) {
    for (uint32_t j = find_entry_avx512(view.table, 0, view.length, z); j < view.length;
         j = find_entry_avx512(view.table, j + 1, view.length, z)) {
      report(j);
    }
    return;
  }
  if (view.table[0] == z) report(0);
  for (uint32_t j = view.head[presence_block(z)]; j != 0; j = view.chain[j]) {
    if (view.table[j] == z) report(j);
  }
}

void report_lane(const stride_view& view, const lane_plan& plan, int lane, uint32_t i, uint64_t z) {
  const auto l = static_cast<size_t>(lane);
  for (uint32_t s = plan.lane_segments[l]; s < plan.lane_segments[l + 1]; ++s) {
    const lane_segment& segment = plan.segments[s];
    if (i - segment.begin < segment.count) {  // i < begin wraps
      report_matches(view, z, segment.index, segment.t + uint64_t{i - segment.begin} * segment.step);
      return;
    }
  }
}

void walk_scalar(const stride_view& view, std::span<const walk_piece> pieces, const prime_modulus& m) {
  for (const walk_piece& piece : pieces) {
    const fixed_factor multiplier = make_fixed_factor(piece.multiplier, m);
    uint64_t z = piece.start;
    uint64_t t = piece.t;
    for (uint32_t c = piece.count; c != 0; --c) {
      if (UNLIKELY(present(view.presence, z))) report_matches(view, z, piece.index, t);
      z = mulmod_full(z, multiplier, m);
      t += piece.step;
    }
  }
}

void walk_interleaved(const stride_view& view, const lane_plan& plan, const prime_modulus& m) {
  interleaved_lanes lanes{m};
  run_lanes(view, plan, lanes);
}

}  // namespace veksieve
