// Shared pieces of the engine tests: sequence sets that own their arrays, a
// recorder behind the engine's callbacks, and the reference run over a list
// of primes from primesieve.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "engine/sieve_engine.hpp"
#include "engine/stride_sizing.hpp"
#include "engine/kernels/kernel_backend.hpp"
#include "reference.hpp"
#include <primesieve.hpp>

namespace veksieve::test {

// Every walk kernel this build and CPU run: always the scalar one.
inline std::vector<const kernel_backend*> kernels_under_test() {
  std::vector<const kernel_backend*> kernels;
  for (const kernel_backend& kernel : kernel_backends()) {
    if (kernel.supported()) kernels.push_back(&kernel);
  }
  return kernels;
}

struct sequence_spec {
  int32_t k, residue, step;
  int8_t c = 1;  // k*2^n+c
};

// Owns the arrays a sequence_set views.
struct sequences {
  int32_t nmin, nmax;
  std::vector<int32_t> k, residue, step;
  std::vector<int8_t> c;

  sequences(int32_t nmin_, int32_t nmax_, std::initializer_list<sequence_spec> specs) : nmin(nmin_), nmax(nmax_) {
    for (const sequence_spec& s : specs) add(s);
  }
  void add(const sequence_spec& s) {
    k.push_back(s.k);
    residue.push_back(s.residue);
    step.push_back(s.step);
    c.push_back(s.c);
  }
  sequence_set view() const { return {nmin, nmax, k, residue, step, c}; }
};

// Records every callback; counts blocks so that leaks and double releases show.
struct recorder {
  std::vector<factor_call> factors;
  std::vector<int64_t> progress;
  std::map<void*, uint32_t> outstanding;  // block -> size
  std::vector<uint32_t> allocation_sizes;
  int fail_allocation_number = -1;        // this allocation (0-based) returns null
  int releases = 0;
  bool bad_release = false;
  size_t stop_after_factors = SIZE_MAX;   // raise `stop` once this many factors came
  std::atomic<bool> stop{false};

  engine_callbacks callbacks() {
    engine_callbacks c;
    c.context = this;
    c.report_factor = [](void* self, uint32_t index, uint32_t n, int64_t p) {
      auto& r = *static_cast<recorder*>(self);
      r.factors.push_back({index, n, p});
      if (r.factors.size() >= r.stop_after_factors) r.stop = true;
    };
    c.report_progress = [](void* self, int64_t p) { static_cast<recorder*>(self)->progress.push_back(p); };
    c.allocate = [](void* self, uint32_t size) -> void* {
      auto& r = *static_cast<recorder*>(self);
      const int number = static_cast<int>(r.allocation_sizes.size());
      r.allocation_sizes.push_back(size);
      if (number == r.fail_allocation_number) return nullptr;
      void* block = std::calloc(size, 1);
      r.outstanding[block] = size;
      return block;
    };
    c.release = [](void* self, void* block) {
      auto& r = *static_cast<recorder*>(self);
      ++r.releases;
      r.bad_release |= r.outstanding.erase(block) != 1;
      std::free(block);
    };
    c.stop_requested = &stop;
    return c;
  }
};

inline std::vector<int64_t> primes_between(uint64_t low, uint64_t high) {
  std::vector<int64_t> primes;
  primesieve::generate_primes(low, high, &primes);
  return primes;
}

// Primes in [low, high] known to divide k*2^n+c for some sequence: what is
// left of k*2^n+c (below 2^80) after trial division by the primes below 2^16,
// when it is a prime in range (up to 2^64). Large primes rarely divide any
// k*2^n+1 of a short window; these make sure some do.
inline std::vector<int64_t> factor_primes(const sequences& seqs, uint64_t low, uint64_t high) {
  using u128 = unsigned __int128;
  std::vector<uint64_t> divisors;
  primesieve::generate_primes(uint64_t{3}, uint64_t{1} << 16, &divisors);
  std::vector<int64_t> found;
  for (size_t i = 0; i < seqs.k.size(); ++i) {
    const u128 k = static_cast<u128>(seqs.k[i]);
    for (int64_t n = seqs.nmin + seqs.residue[i]; n <= seqs.nmax && (k << n) < (u128{1} << 80); n += seqs.step[i]) {
      u128 rest = seqs.c[i] > 0 ? (k << n) + 1 : (k << n) - 1;
      if (rest < low) continue;
      for (const uint64_t d : divisors) {
        if (u128{d} * d > rest) break;
        while (rest % d == 0) rest /= d;
      }
      if (rest < low || rest > high) continue;
      if (is_prime(static_cast<uint64_t>(rest))) found.push_back(static_cast<int64_t>(rest));
    }
  }
  std::sort(found.begin(), found.end());
  found.erase(std::unique(found.begin(), found.end()), found.end());
  return found;
}

// Sorted by prime, index and n.
inline std::vector<factor_call> reference_calls(const sequence_set& s, const stride_sizing& sizing,
                                                const std::vector<int64_t>& primes) {
  std::vector<factor_call> calls;
  for (const int64_t p : primes) append_reference(calls, s, sizing.stride, sizing.table_length, p);
  return sorted_calls(std::move(calls));
}

}  // namespace veksieve::test
