// The walk kernels in plain C++ with the engine's product: one chain at a
// time (the reference of the others, walking each sequence whole), and
// several chains stepped in turn, each waiting for its own product only.
#include "common/config.hpp"
#include "engine/lane_pool.hpp"
#include "engine/mulmod.hpp"

namespace veksieve {

namespace {

template <int chain_count>
struct interleaved_lanes {
  static constexpr int width = chain_count;
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
  ALWAYS_INLINE uint64_t probe(const uint32_t* presence, uint32_t block_mask) const {
    uint64_t hits = 0;
    for (int l = 0; l < width; ++l) hits |= uint64_t{present(presence, block_mask, z[l])} << l;
    return hits;
  }
  ALWAYS_INLINE void advance() {
    for (int l = 0; l < width; ++l) z[l] = mulmod_full(z[l], s[l], m);
  }
};

}  // namespace

void walk_scalar(const stride_view& view, const walk_layout& walks, const prime_modulus& m) {
  for (const walk_piece& piece : walks.pieces) {
    uint64_t z = piece.start;
    uint64_t t = piece.t;
    for (uint32_t c = piece.count; c != 0; --c) {
      if (UNLIKELY(present(view.presence, view.block_mask, z))) report_matches(view, z, piece.index, t);
      z = mulmod_full(z, piece.multiplier, m);
      t += piece.step;
    }
  }
}

void walk_interleaved(const stride_view& view, const walk_layout& walks, const prime_modulus& m) {
  interleaved_lanes<8> lanes{m};
  run_lanes(view, walks.plan, lanes);
}

}  // namespace veksieve
