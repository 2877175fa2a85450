// The ABCD sequence format that other sieves exchange: a header line
// "ABCD k*2^$a+c [n0]" per sequence (c = +1 or -1, base 2 only), then one
// positive difference per line, each n the previous one plus it. Reading
// gives the raw sequences, which the sequence table turns into its own; the
// writer turns candidate bitmaps back into the format.
#pragma once

#include <cstdint>
#include <istream>
#include <span>
#include <string>
#include <vector>

namespace veksieve {

struct abcd_sequence {
  int32_t k = 0;
  int32_t c = 1;
  std::vector<int32_t> n;  // rising, the first one n0
  int32_t step = 0;        // gcd of the initial step and the differences
};

struct abcd_contents {
  std::vector<abcd_sequence> sequences;
  int64_t sieved_to = 0;  // from a "// Sieved to P" comment; 0 without one
};

// Whether the stream (not yet read) begins as an ABCD file does: its first
// character is the header's 'A', which no Vek.dat's first line starts with.
bool looks_like_abcd(std::istream& in);

// Reads the whole file. Throws fatal_error naming `name` and the line of the
// first defect: a line that is neither a header nor a difference, a header
// of another base or another c than +1 and -1, a k that is not odd from 1 to
// 2^30 - 1, an n below 2 or beyond 32 bits, a difference not above 0.
abcd_contents read_abcd(std::istream& in, const std::string& name, int32_t initial_step);

// One sequence to write: the n's are the set bits n - nmin of `bits`.
struct abcd_block {
  int32_t k = 0;
  int32_t c = 1;
  const uint32_t* bits = nullptr;
};

// The ABCD text of the blocks over the window [nmin, nmax]; a block without
// a candidate is left out, since the format cannot say it. `sieved_to`, when
// not 0, goes on the first header as "// Sieved to P".
std::string abcd_text(std::span<const abcd_block> blocks, int32_t nmin, int32_t nmax, int64_t sieved_to);

}  // namespace veksieve
