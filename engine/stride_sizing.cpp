// The stride sizing. The root is formed exactly as the search was tuned
// (product rounded down, root to nearest); the least common multiple is kept
// in 64 bits so that a large one is noticed instead of wrapping.
#include "engine/stride_sizing.hpp"

#include <cfenv>
#include <cmath>

#include "common/config.hpp"
#include "common/text_format.hpp"
#include "engine/binary_gcd.hpp"

namespace veksieve {

namespace {

std::string check_sequences(const sequence_set& s) {
  const size_t count = s.k.size();
  if (count == 0) return "There are no sequences to sieve.";
  if (s.residue.size() != count || s.step.size() != count || (!s.c.empty() && s.c.size() != count))
    return "The sequence arrays differ in length.";
  if (count > max_sequence_count) return text_format("There are too many sequences (%zu; at most %u).", count, max_sequence_count);
  if (s.nmin < 1 || s.nmax < s.nmin) return text_format("The exponent window [%d, %d] is empty or starts below 1.", s.nmin, s.nmax);
  for (size_t i = 0; i < count; ++i) {
    if (s.k[i] < 1) return text_format("Sequence %zu has k=%d; k must be positive.", i, s.k[i]);
    if (s.c_of(i) != 1 && s.c_of(i) != -1) return text_format("Sequence %zu has c=%d; c must be 1 or -1.", i, s.c_of(i));
    if (s.step[i] < 1 || s.residue[i] < 0 || s.residue[i] >= s.step[i]) {
      return text_format("Sequence %zu (k=%d) has residue %d and step %d; the step must be positive and the residue below it.",
                    i, s.k[i], s.residue[i], s.step[i]);
    }
  }
  return {};
}

}  // namespace

uint64_t stride_root(uint32_t window, double alpha) {
  const int saved = std::fegetround();
  std::fesetround(FE_DOWNWARD);
  const long double product = static_cast<long double>(window) * static_cast<long double>(2 * alpha);
  std::fesetround(FE_TONEAREST);
  const long double root = std::sqrt(product);
  std::fesetround(saved);
  return static_cast<uint64_t>(root);
}

stride_sizing plan_stride_search(const sequence_set& sequences, double alpha) {
  stride_sizing sizing;
  sizing.refusal = check_sequences(sequences);
  if (!sizing.ok()) return sizing;
  sizing.window = static_cast<uint32_t>(int64_t{sequences.nmax} + 1 - sequences.nmin);

  // 2^62 keeps the root's conversion exact; any alpha a user types is far below.
  if (!(alpha > 0) || !(2 * alpha * sizing.window < 0x1p62)) {
    sizing.refusal = text_format("alpha=%g is outside what the search can be sized for.", alpha);
    return sizing;
  }
  sizing.root = stride_root(sizing.window, alpha);

  // Every exponent the search forms, nmin + t + j*M < nmin + R + M, must fit in
  // 32 bits; that bounds M, and with it L.
  const uint64_t max_stride = uint64_t{UINT32_MAX} - static_cast<uint64_t>(sequences.nmax);
  uint64_t lcm = 1;
  for (const int32_t step : sequences.step) {
    const uint64_t s = static_cast<uint64_t>(step);
    lcm = lcm / binary_gcd(lcm, s) * s;  // both factors below 2^32: no wrap
    if (lcm > max_stride) {
      sizing.refusal = text_format(
          "The steps of the sequences have a least common multiple above %llu, too large for exponents "
          "of 32 bits; the sequence file needs fewer distinct steps.",
          static_cast<unsigned long long>(max_stride));
      return sizing;
    }
  }
  sizing.step_lcm = lcm;

  // A stride of at least R / 65536 + 1 keeps R div M <= 65535, so every entry
  // index fits in 16 bits; at least 1 keeps the table length defined.
  const uint64_t shortest = uint64_t{sizing.window} / max_table_length + 1;
  const uint64_t wanted = std::max(sizing.root, shortest);
  const uint64_t stride = (wanted + lcm - 1) / lcm * lcm;
  const uint64_t table_length = sizing.window / stride + 1;
  const uint64_t largest_n = static_cast<uint64_t>(sequences.nmin) + table_length * stride - 1;
  if (largest_n > UINT32_MAX) {
    sizing.refusal = text_format(
        "The stride of the search (%llu, a multiple of every step) is too long for exponents of 32 bits; "
        "the sequence file needs fewer distinct steps.",
        static_cast<unsigned long long>(stride));
    return sizing;
  }
  sizing.stride = static_cast<uint32_t>(stride);
  sizing.table_length = static_cast<uint32_t>(table_length);
  return sizing;
}

}  // namespace veksieve
