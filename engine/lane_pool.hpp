// The loop every multi-chain walk kernel shares: a fixed set of lanes, each
// walking one piece; all lanes step together for as many steps as the
// shortest piece left has, then finished lanes take the next piece (or go
// idle at value 0 with multiplier 0). Once no piece is left, the lanes step
// on for as long as the longest piece left has, and a lane past the end of
// its piece reports nothing: each stop of the lanes costs about as much as
// four of their steps, and the last pieces would otherwise stop them once
// for every length among them. Lanes hold their values in the kernel's
// own format; `Lanes` supplies set() (into memory), load() and store()
// (between memory and registers, around each run of steps), probe() (a bit
// per lane whose presence bits are set), value() (in a run) and advance(). The template is static and calls no
// library template, so that each kernel's translation unit, built for its own
// instruction set, keeps its own copy and shares none with the others.
#pragma once

#include <cstdint>
#include <span>

#include "common/macros.hpp"
#include "engine/walk_kernel.hpp"

namespace veksieve {

constexpr uint32_t idle_lane = UINT32_MAX;

template <class Lanes>
static void run_lane_pool(const stride_view& view, std::span<const walk_piece> pieces, Lanes& lanes) {
  constexpr int width = Lanes::width;
  uint32_t index[width];
  uint32_t remaining[width];
  uint64_t t[width];
  uint64_t step[width];
  const walk_piece* const piece_list = pieces.data();
  const size_t piece_count = pieces.size();
  size_t next = 0;
  int live = 0;
  const auto fill = [&](int l) {
    if (next < piece_count) {
      const walk_piece& piece = piece_list[next++];
      lanes.set(l, piece.start, piece.multiplier);
      index[l] = piece.index;
      remaining[l] = piece.count;
      t[l] = piece.t;
      step[l] = piece.step;
      ++live;
    } else {
      lanes.set(l, 0, 0);
      index[l] = idle_lane;
      remaining[l] = UINT32_MAX;
    }
  };
  for (int l = 0; l < width; ++l) fill(l);

  while (live > 0) {
    uint32_t run = remaining[0];
    if (next < piece_count) {
      for (int l = 1; l < width; ++l) run = remaining[l] < run ? remaining[l] : run;
    } else {
      run = 0;
      for (int l = 0; l < width; ++l) run = index[l] != idle_lane && remaining[l] > run ? remaining[l] : run;
    }
    lanes.load();
    for (uint32_t i = 0; i < run; ++i) {
      uint64_t hits = lanes.probe(view.presence);
      while (UNLIKELY(hits != 0)) {
        const int l = __builtin_ctzll(hits);
        hits &= hits - 1;
        if (index[l] != idle_lane && i < remaining[l]) {
          report_matches(view, lanes.value(l), index[l], t[l] + i * step[l]);
        }
      }
      lanes.advance();
    }
    lanes.store();
    for (int l = 0; l < width; ++l) {
      if (index[l] == idle_lane) continue;
      if (remaining[l] <= run) {
        --live;
        fill(l);
      } else {
        remaining[l] -= run;
        t[l] += run * step[l];
      }
    }
  }
}

}  // namespace veksieve
