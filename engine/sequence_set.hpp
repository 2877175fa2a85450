// The sequences an engine sieves: sequence i stands for the n of k[i]*2^n+1
// in [nmin, nmax] with (n - nmin) mod step[i] == residue[i]. Two rules that
// the engine and its cost model must agree on live here once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace veksieve {

struct sequence_set {
  int32_t nmin = 0;
  int32_t nmax = 0;
  std::span<const int32_t> k;
  std::span<const int32_t> residue;
  std::span<const int32_t> step;
};

// Whether sequence i joins the group that `leader` leads: a group is a run of
// adjacent sequences with one k and one step and rising residues (as the
// sequence table lays out a split k), so that the members share the leader's
// filter and a member's residue lies above the leader's.
inline bool joins_group(const sequence_set& s, size_t i, size_t leader) {
  return i > 0 && s.k[i] == s.k[leader] && s.step[i] == s.step[leader] && s.residue[i] > s.residue[i - 1];
}

// The steps of a sequence's walk over one stride: t = residue, residue +
// step, ... below the stride.
inline uint32_t walk_length(uint64_t stride, int32_t residue, int32_t step) {
  const auto r = static_cast<uint64_t>(residue), s = static_cast<uint64_t>(step);
  return stride > r ? static_cast<uint32_t>((stride - r + s - 1) / s) : 0;
}

}  // namespace veksieve
