// The Jacobi symbol tables of the group filter: (r/k) is the product of the
// Legendre symbols (r/q) over the primes q that divide k an odd number of
// times, so each such q flips the bits of its non-residues across the table.
#include "engine/quadratic_character.hpp"

#include "common/config.hpp"

namespace veksieve {

uint32_t quadratic_characters::add(uint32_t k) {
  if ((k & 1) == 0 || k > quadratic_table_max_bits - used_bits_) return none;
  const uint64_t offset = used_bits_;
  used_bits_ += k;
  bits_.resize((used_bits_ + 63) / 64);

  uint32_t rest = k;
  for (uint32_t q = 3; rest > 1; q += 2) {
    if (uint64_t{q} * q > rest) q = rest;  // what is left is a prime
    int multiplicity = 0;
    for (; rest % q == 0; rest /= q) ++multiplicity;
    if (multiplicity % 2 == 0) continue;
    std::vector<uint8_t> square(q);
    for (uint64_t x = 1; x <= q / 2; ++x) square[x * x % q] = 1;
    uint32_t c = 0;  // r mod q
    for (uint64_t r = 0; r < k; ++r) {
      if (c != 0 && !square[c]) bits_[(offset + r) >> 6] ^= uint64_t{1} << ((offset + r) & 63);
      if (++c == q) c = 0;
    }
  }
  entries_.push_back({k, UINT64_MAX / k, offset});
  return static_cast<uint32_t>(entries_.size() - 1);
}

}  // namespace veksieve
