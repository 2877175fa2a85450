// The sequences an engine sieves: sequence i stands for the n of
// k[i]*2^n+c[i] in [nmin, nmax] with (n - nmin) mod step[i] == residue[i],
// where c is +1 or -1. Two rules that the engine and its cost model must
// agree on live here once.
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
  // +1 or -1 per sequence; empty: +1 for every one. k*2^n-1 = 0 is
  // (-k)*2^n+1 = 0, so the -1 form is the same search with -k.
  std::span<const int8_t> c = {};

  int32_t c_of(size_t i) const { return c.empty() ? 1 : c[i]; }
};

// Whether sequence i joins the group that `leader` leads: a group is a run of
// adjacent sequences with one k, one form and one step and rising residues
// (as the sequence table lays out a split k), so that the members share the
// leader's filter and a member's residue lies above the leader's.
inline bool joins_group(const sequence_set& s, size_t i, size_t leader) {
  return i > 0 && s.k[i] == s.k[leader] && s.step[i] == s.step[leader] && s.residue[i] > s.residue[i - 1] &&
         s.c_of(i) == s.c_of(leader);
}

// The steps of a sequence's walk over one stride: t = residue, residue +
// step, ... below the stride.
inline uint32_t walk_length(uint64_t stride, int32_t residue, int32_t step) {
  const auto r = static_cast<uint64_t>(residue), s = static_cast<uint64_t>(step);
  return stride > r ? static_cast<uint32_t>((stride - r + s - 1) / s) : 0;
}

}  // namespace veksieve
