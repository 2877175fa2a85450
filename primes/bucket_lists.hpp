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
// ring covers every p below 2^32 - 2^17. Lists come in two sizes: one per
// segment for the group of 128 segments being sieved, one per group for the
// groups ahead. A prime far ahead is filed twice, first under its group and
// then, when the sieve enters that group, under its segment; but the newest
// buckets of the few lists written to stay in cache, where a list per
// segment ahead would cost a cache and TLB miss per filing high up. Groups
// of 128 rather than 64 segments file fewer primes twice: about 5% faster
// at 10^15 and 10^18 (bench/prime_source_bench).
inline constexpr uint32_t bucket_ring = 32768;
inline constexpr uint32_t group_shift = 7;
inline constexpr uint32_t group_segments = 1u << group_shift;
inline constexpr uint32_t group_ring = 2 * bucket_ring / group_segments;  // more than the groups ahead
static_assert(group_segments <= (1u << 15), "a segment's place in its group and a bit fit 32 bits");

struct bucket_entry {
  uint32_t prime;
  // Bit of the next odd multiple in the list's segment; in a group's list
  // that segment's place in the group times 2^17 plus the bit.
  uint32_t strike;
};

struct bucket {
  bucket* next;
  uint32_t count;
  bucket_entry entries[bucket_capacity];
};

struct bucket_lists {
  bucket_lists();

  bucket* segment_heads[group_segments] = {};  // of the group being sieved, newest bucket first
  std::unique_ptr<bucket*[]> group_heads;      // of group g at g % group_ring
  uint64_t current_group = 0;
  bucket* free_buckets = nullptr;
  std::vector<std::unique_ptr<bucket[]>> slabs;
};

// A free bucket from the pool, which grows by a slab when it runs dry.
NOINLINE bucket* take_bucket(bucket_lists& lists);

ALWAYS_INLINE void release_bucket(bucket_lists& lists, bucket* b) {
  b->next = lists.free_buckets;
  lists.free_buckets = b;
}

ALWAYS_INLINE void push_to(bucket_lists& lists, bucket*& head, bucket_entry entry) {
  if (UNLIKELY(head == nullptr || head->count == bucket_capacity)) {
    bucket* b = take_bucket(lists);
    b->next = head;
    b->count = 0;
    head = b;
  }
  head->entries[head->count++] = entry;
}

// Files an entry under `segment`, which lies in the current group or a later one.
ALWAYS_INLINE void push_entry(bucket_lists& lists, uint64_t segment, bucket_entry entry) {
  const uint64_t group = segment >> group_shift;
  const auto place = static_cast<uint32_t>(segment % group_segments);
  if (group == lists.current_group) {
    push_to(lists, lists.segment_heads[place], entry);
  } else {
    entry.strike |= place << 17;
    push_to(lists, lists.group_heads[group & (group_ring - 1)], entry);
  }
}

// Takes the whole list of a segment of the current group out of the lists.
ALWAYS_INLINE bucket* detach_list(bucket_lists& lists, uint64_t segment) {
  bucket*& head = lists.segment_heads[segment % group_segments];
  bucket* list = head;
  head = nullptr;
  return list;
}

// Makes `group` the current one: its list is spread over the segment lists,
// which must be empty.
void enter_group(bucket_lists& lists, uint64_t group);

// Takes the lists of the current group's segments and of the groups after it
// up to `last_group` out as one chain of buckets.
bucket* detach_up_to(bucket_lists& lists, uint64_t last_group);

// Returns every bucket to the pool; the storage stays.
void clear_lists(bucket_lists& lists);

}  // namespace veksieve
