// The per-worker source: the refill behind next_prime, which adds the bucket
// primes whose squares the next segment reaches, sieves it and strikes its
// bucket and window; and the repositioning, which keeps what it can of the
// buckets (see README.md).
#include "primes/prime_source.hpp"

#include "primes/strike.hpp"

#include <algorithm>
#include <utility>

namespace veksieve {
namespace {

// Every bucket prime has one odd multiple at most in a segment: strike it and
// file the prime under the segment of its next one.
void strike_bucket(prime_source& source) {
  const auto t = static_cast<uint64_t>(source.sieved_segment);
  uint32_t* const segment = source.sieve.segment.get();
  bucket_lists& lists = source.buckets;
  for (bucket* b = detach_list(lists, t); b != nullptr;) {
    const bucket_entry* const entries = b->entries;
    const uint32_t count = b->count;
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t p = entries[i].prime;
      const uint32_t m = entries[i].strike;
      clear_bit(segment, m);
      const uint32_t next = m + p;
      push_entry(lists, t + next / segment_bits, {p, next % segment_bits});
    }
    bucket* const done = b;
    b = b->next;
    release_bucket(lists, done);
  }
}

void add_bucket_primes(prime_source& source, int64_t start) {
  const int64_t end = start + segment_span;
  int64_t p = source.next_bucket_prime;
  // Below bucket_prime_bound^2 the bound never stops the loop; above, the
  // larger primes strike the window instead.
  while (p * p < end && p < bucket_prime_bound) {
    file_multiple(source.buckets, static_cast<uint32_t>(p), first_multiple(p, std::max(p * p, start + 1)));
    p = next_segment_prime(source.bucket_primes, *source.tables);
  }
  source.next_bucket_prime = p;
}

// Starts the bucket primes afresh: no prime filed, the next one 131101.
void restart_buckets(prime_source& source, int64_t target) {
  clear_lists(source.buckets);
  source.buckets.current_group = static_cast<uint64_t>(target) >> group_shift;
  position_segment(source.bucket_primes, *source.tables, 0);
  int64_t p = 0;
  while (p <= last_sieving_prime) p = next_segment_prime(source.bucket_primes, *source.tables);
  source.next_bucket_prime = p;
}

// Moves the buckets on to the segment `target`: the primes filed under the
// segments up to its group are filed again under their first multiple from
// there; those filed under later groups stay.
void skip_buckets(prime_source& source, int64_t target) {
  bucket_lists& lists = source.buckets;
  const auto group = static_cast<uint64_t>(target) >> group_shift;
  bucket* moved = detach_up_to(lists, group);
  lists.current_group = group;
  const int64_t from = target * segment_span + 1;
  while (moved != nullptr) {
    for (uint32_t i = 0; i < moved->count; ++i) {
      const uint32_t p = moved->entries[i].prime;
      file_multiple(lists, p, first_multiple(p, std::max(int64_t{p} * p, from)));
    }
    bucket* const done = moved;
    moved = moved->next;
    release_bucket(lists, done);
  }
}

}  // namespace

prime_source::prime_source(std::shared_ptr<const prime_tables> shared_tables,
                           std::shared_ptr<large_prime_windows> windows)
    : tables(std::move(shared_tables)), window(std::move(windows)) {}

void sieve_start(prime_source& source, int64_t pmin) {
  ASSERT(pmin >= 0 && pmin <= prime_source_reach);
  const int64_t number = pmin / segment_span;
  const int64_t start = number * segment_span;
  segment_sieve& sieve = source.sieve;
  if (number == source.sieved_segment) {
    sieve.chunk = sieve.segment.get();
    sieve.chunk_base = start - chunk_span;
    sieve.pending_count = 0;
  } else {
    if (source.sieved_segment >= 0 && number > source.sieved_segment) {
      skip_buckets(source, number);
    } else {
      restart_buckets(source, number);
    }
    add_bucket_primes(source, start);
    position_segment(sieve, *source.tables, start);
    source.sieved_segment = number;
    strike_bucket(source);
    strike_large_primes(source.window, *source.tables, number, sieve.segment.get());
  }
  while (peek_prime(source) <= pmin) --sieve.pending_count;
}

void refill_pending(prime_source& source) {
  segment_sieve& sieve = source.sieve;
  ASSERT(sieve.pending && sieve.segment && source.sieved_segment >= 0);
  do {
    if (sieve.chunk == sieve.segment_end) {
      const int64_t start = sieve.chunk_base + chunk_span;  // the segment about to be sieved
      const int64_t number = start / segment_span;
      if (static_cast<uint64_t>(number) >> group_shift != source.buckets.current_group)
        enter_group(source.buckets, static_cast<uint64_t>(number) >> group_shift);
      add_bucket_primes(source, start);
      sieve_segment(sieve, *source.tables);
      source.sieved_segment = number;
      strike_bucket(source);
      strike_large_primes(source.window, *source.tables, number, sieve.segment.get());
      sieve.chunk = sieve.segment.get();
    }
    emit_chunk(sieve);
  } while (sieve.pending_count == 0);
}

}  // namespace veksieve
