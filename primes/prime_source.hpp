// The candidate prime source: a segmented sieve of Eratosthenes over the odd
// numbers that hands out every prime above pmin in ascending order, up to
// 2^62 and a little beyond. The fixed tables are built once and shared; each
// source (one per worker) holds only its own position, segment and buckets.
// The hand-out is inline, the refill is not.
#pragma once

#include "common/config.hpp"
#include "common/macros.hpp"
#include "primes/bucket_lists.hpp"
#include "primes/large_prime_window.hpp"
#include "primes/prime_tables.hpp"
#include "primes/segment_sieve.hpp"

#include <cstdint>
#include <memory>

namespace veksieve {

// sieve_start accepts pmin up to 2^62. The bucket primes come from a second
// sieve that is exact below 131071^2 (about 1.7e10); they stay below 2^32 and
// their next hit within bucket_ring segments while the sieve is below 2^63.
inline constexpr int64_t prime_source_reach = int64_t{1} << 62;
static_assert(int64_t{bucket_ring} * segment_bits > int64_t{3037000500} + segment_bits,
              "the ring must reach the next hit of every bucket prime below sqrt(2^63)");

// One worker's source. The sieving primes above 131071 are produced on demand
// by a second segment sieve as the squares come near, and each below
// bucket_prime_bound waits in the bucket of the segment it strikes next; the
// larger ones strike a window of segments at a time (large_prime_window.hpp),
// which the sources of a run share when given `windows`; without, the
// source has windows of its own.
struct prime_source {
  explicit prime_source(std::shared_ptr<const prime_tables> shared_tables,
                        std::shared_ptr<large_prime_windows> windows = nullptr);

  std::shared_ptr<const prime_tables> tables;
  segment_sieve sieve;           // hands out the primes
  segment_sieve bucket_primes;   // hands out the bucket primes, 131101 upwards
  bucket_lists buckets;
  window_reader window;
  int64_t sieved_segment = -1;   // number of the segment in sieve.segment; -1 before the first start
  int64_t next_bucket_prime = 0; // the next bucket prime not yet in the buckets
};

// Places the source so that next_prime hands out the smallest prime above
// pmin. 0 <= pmin <= prime_source_reach; callable again at any time. Moving
// forward keeps the buckets (only the primes that would strike the skipped
// stretch are placed anew); moving back rebuilds them.
void sieve_start(prime_source& source, int64_t pmin);

// The refill behind the hand-out.
NOINLINE void refill_pending(prime_source& source);

// The hot path: a test, a decrement and a load.
ALWAYS_INLINE int64_t next_prime(prime_source& source) {
  if (UNLIKELY(source.sieve.pending_count == 0)) refill_pending(source);
  return source.sieve.pending_low[--source.sieve.pending_count];
}

ALWAYS_INLINE int64_t peek_prime(prime_source& source) {
  if (UNLIKELY(source.sieve.pending_count == 0)) refill_pending(source);
  return source.sieve.pending_low[source.sieve.pending_count - 1];
}

}  // namespace veksieve
