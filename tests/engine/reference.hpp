// Independent reference arithmetic for the engine tests: 128-bit products and
// square-and-multiply, and a brute-force search that steps 2^n mod p through
// every exponent of a sequence's class. Nothing here uses the engine's code.
#pragma once

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <tuple>
#include <vector>

#include "common/exact_primality.hpp"
#include "engine/sieve_engine.hpp"
#include "tests/support/reference_primes.hpp"

namespace veksieve::test {

// 128-bit products and square-and-multiply, shared with the checks of
// reported factors.
inline uint64_t mul_ref(uint64_t a, uint64_t b, uint64_t p) { return mul_mod(a, b, p); }
inline uint64_t pow_ref(uint64_t base, uint64_t e, uint64_t p) { return pow_mod(base, e, p); }

struct factor_call {
  uint32_t index;
  uint32_t n;
  int64_t p;
  bool operator==(const factor_call&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const factor_call& c) {
  return out << "(index " << c.index << ", n " << c.n << ", p " << c.p << ")";
}

// Every n of each sequence's class in [nmin, nmin + table_length * stride)
// with k*2^n = -c (mod p). The order of the calls within one prime is not
// part of the engine's contract; compare them sorted (sorted_calls).
inline std::vector<factor_call> sorted_calls(std::vector<factor_call> calls) {
  std::sort(calls.begin(), calls.end(),
            [](const factor_call& a, const factor_call& b) { return std::tie(a.p, a.index, a.n) < std::tie(b.p, b.index, b.n); });
  return calls;
}

inline void append_reference(std::vector<factor_call>& out, const sequence_set& s, uint32_t stride,
                             uint32_t table_length, int64_t prime) {
  const uint64_t p = static_cast<uint64_t>(prime);
  const uint64_t end = static_cast<uint64_t>(s.nmin) + uint64_t{table_length} * stride;
  for (size_t i = 0; i < s.k.size(); ++i) {
    struct hit {
      uint64_t t, j;
    };
    std::vector<hit> hits;
    const uint64_t step = static_cast<uint64_t>(s.step[i]);
    const uint64_t n0 = static_cast<uint64_t>(s.nmin) + static_cast<uint64_t>(s.residue[i]);
    const uint64_t multiplier = pow_ref(2, step, p);
    uint64_t x = mul_ref(static_cast<uint64_t>(s.k[i]) % p, pow_ref(2, n0, p), p);
    const uint64_t target = s.c_of(i) > 0 ? p - 1 : 1;
    for (uint64_t n = n0; n < end; n += step) {
      if (x == target) hits.push_back({(n - s.nmin) % stride, (n - s.nmin) / stride});
      x = mul_ref(x, multiplier, p);
    }
    std::sort(hits.begin(), hits.end(), [](const hit& a, const hit& b) {
      return std::make_tuple(a.t, a.j != 0, ~a.j) < std::make_tuple(b.t, b.j != 0, ~b.j);
    });
    for (const hit& h : hits) {
      out.push_back({static_cast<uint32_t>(i), static_cast<uint32_t>(s.nmin + h.t + h.j * stride), prime});
    }
  }
}

}  // namespace veksieve::test
