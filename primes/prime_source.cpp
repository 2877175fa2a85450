// Construction of the per-worker state: the segment buffers and the bucket
// ring. The tables are only referred to; the buckets fill as the source climbs.
#include "primes/prime_source.hpp"

#include <utility>

namespace veksieve {

segment_sieve::segment_sieve()
    : segment(std::make_unique<uint32_t[]>(segment_words)),
      segment_end(segment.get() + segment_words), chunk(segment_end),
      pending(std::make_unique<int64_t[]>(max_pending)), pending_low(pending.get()),
      packed_sieve(std::make_unique<uint32_t[]>(sieving_prime_count)) {}

prime_source::prime_source(std::shared_ptr<const prime_tables> shared_tables) : tables(std::move(shared_tables)) {}

}  // namespace veksieve
