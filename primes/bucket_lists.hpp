// The buckets of the large sieving primes: for each of the next bucket_ring
// segments a list of the primes whose next odd multiple lies in it, with that
// multiple's bit. A segment only visits its own list, so it costs what its
// hits cost however many large primes there are. Lists are chains of
// fixed-size buckets drawn from a pool that only grows, so a source that has
// reached its height allocates nothing more.
#pragma once

#include "common/config.hpp"
#include "common/macros.hpp"

#include <cstdint>
#include <memory>
#include <vector>

namespace veksieve {

// A prime has its next multiple at most (2^17 + p) / 2^17 segments ahead; the
// ring covers every p below 2^32 - 2^17.
inline constexpr uint32_t bucket_ring = 32768;
inline constexpr uint32_t bucket_ring_mask = bucket_ring - 1;

struct bucket_entry {
  uint32_t prime;
  uint32_t strike;  // bit of the next odd multiple in the list's segment
};

struct bucket {
  bucket* next;
  uint32_t count;
  bucket_entry entries[bucket_capacity];
};

struct bucket_lists {
  bucket_lists();

  std::unique_ptr<bucket*[]> heads;  // list of segment s at s & bucket_ring_mask, newest bucket first
  bucket* free_buckets = nullptr;
  std::vector<std::unique_ptr<bucket[]>> slabs;
};

// A free bucket from the pool, which grows by a slab when it runs dry.
NOINLINE bucket* take_bucket(bucket_lists& lists);

ALWAYS_INLINE void release_bucket(bucket_lists& lists, bucket* b) {
  b->next = lists.free_buckets;
  lists.free_buckets = b;
}

ALWAYS_INLINE void push_entry(bucket_lists& lists, uint64_t segment, bucket_entry entry) {
  bucket*& head = lists.heads[segment & bucket_ring_mask];
  if (UNLIKELY(head == nullptr || head->count == bucket_capacity)) {
    bucket* b = take_bucket(lists);
    b->next = head;
    b->count = 0;
    head = b;
  }
  head->entries[head->count++] = entry;
}

// Takes the whole list of a segment out of the ring.
ALWAYS_INLINE bucket* detach_list(bucket_lists& lists, uint64_t segment) {
  bucket*& head = lists.heads[segment & bucket_ring_mask];
  bucket* list = head;
  head = nullptr;
  return list;
}

// Returns every bucket to the pool; the storage stays.
void clear_lists(bucket_lists& lists);

}  // namespace veksieve
