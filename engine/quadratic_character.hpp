// The group filter's quadratic character without powering: whether the
// parity value -k (or -2k) is a square modulo a prime p > k follows by
// quadratic reciprocity from p mod 8, k mod 4 and the Jacobi symbol (p/k),
// which a bit table per k holds for every residue of p mod k. The tables are
// formed once per engine; a k beyond their budget, or a prime p <= k, goes
// to Euler's criterion as before.
#pragma once

#include <cstdint>
#include <vector>

namespace veksieve {

class quadratic_characters {
 public:
  static constexpr uint32_t none = UINT32_MAX;

  // A table for the odd k when the budget still has room for its k bits;
  // returns its slot, or `none`.
  uint32_t add(uint32_t k);

  // Whether -k (doubled: -2k; not negated: k or 2k) is a square modulo the
  // odd prime p > k of the slot's k.
  bool is_square(uint32_t slot, uint64_t p, bool doubled, bool negated = true) const {
    const entry& e = entries_[slot];
    // p mod k: the quotient estimate from floor((2^64 - 1) / k) is the true
    // one or one less, since p < 2^64.
    const auto q = static_cast<uint64_t>((static_cast<unsigned __int128>(p) * e.reciprocal) >> 64);
    uint64_t r = p - q * e.k;
    if (r >= e.k) r -= e.k;
    const uint64_t bit = e.offset + r;
    const uint64_t jacobi_minus = (bits_[bit >> 6] >> (bit & 63)) & 1;  // (p/k) = -1
    // (-1/p) = -1 for p = 3 (mod 4), where the value is negated; (2/p) = -1 for p = 3, 5 (mod 8);
    // (k/p) = (p/k), negated when both k and p are 3 (mod 4).
    const uint64_t p3 = (p >> 1) & 1;
    const uint64_t minus = p3 & negated;
    const uint64_t two = doubled ? ((p >> 1) ^ (p >> 2)) & 1 : 0;
    const uint64_t flip = p3 & (e.k >> 1) & 1;
    return (minus ^ two ^ flip ^ jacobi_minus) == 0;
  }

 private:
  struct entry {
    uint64_t k;
    uint64_t reciprocal;  // floor((2^64 - 1) / k)
    uint64_t offset;      // of bit 0 of the k's table in bits_
  };
  std::vector<entry> entries_;
  std::vector<uint64_t> bits_;  // bit r of a k's table: (r/k) = -1, for r prime to k
  uint64_t used_bits_ = 0;
};

}  // namespace veksieve
