// The source's fixed tables and buffers: the bit-clearing masks, the segment,
// the wheel patterns and the sieving primes. Built once per source; the
// engine's set-up calls these before positioning the source.
#include "primes/prime_source.hpp"
#include "primes/wheel_patterns.hpp"

#include <memory>

namespace veksieve {

void build_clear_mask(prime_source& source) {
  for (uint32_t i = 0; i < 32; ++i) source.clear_mask[i] = ~(uint32_t{1} << i);
}

void init_sieve_tables(prime_source& source) {
  ASSERT(source.clear_mask[0] == 0xFFFFFFFE && source.small_primes);
  if (!source.segment) {
    source.segment = std::make_unique<uint32_t[]>(segment_words + segment_slack_words);
    source.segment_end = source.segment.get() + segment_words;
    source.chunk = source.segment_end;
  }
  if (!source.pattern_5_29_31) build_wheel_patterns(source);
  if (!source.sieving_primes) {
    source.sieving_primes = std::make_unique<prime_strike[]>(sieving_prime_count);
    for (uint32_t j = 0; j < sieving_prime_count; ++j)
      source.sieving_primes[j].prime = source.small_primes[first_sieving_prime_index + j];
    // The strike loops rely on each class's bounds on p.
    ASSERT(source.sieving_primes[class_2_begin - 1].prime < 128);
    ASSERT(source.sieving_primes[class_3_begin - 1].prime < 0x10000);
    ASSERT(source.sieving_primes[class_3_begin].prime > 0x10000);
    ASSERT(source.sieving_primes[class_4_begin - 1].prime < 0x18000);
    ASSERT(source.sieving_primes[class_4_begin].prime > 0x18000);
    ASSERT(source.sieving_primes[sieving_prime_count - 1].prime < 0x20000);
  }
  if (!source.packed_sieve) source.packed_sieve = std::make_unique<uint32_t[]>(sieving_prime_count);
}

}  // namespace veksieve
