// The bucket pool: slabs of buckets allocated as the lists first need them
// and kept for the life of the source, so that a climbing or repositioned
// source reuses its storage.
#include "primes/bucket_lists.hpp"

#include <algorithm>

namespace veksieve {

bucket_lists::bucket_lists() : group_heads(std::make_unique<bucket*[]>(group_ring)) {}

bucket* take_bucket(bucket_lists& lists) {
  if (lists.free_buckets == nullptr) {
    // Left uninitialised: a bucket is written before it is read.
    lists.slabs.emplace_back(new bucket[buckets_per_slab]);
    bucket* slab = lists.slabs.back().get();
    for (uint32_t i = 0; i < buckets_per_slab; ++i) release_bucket(lists, &slab[i]);
  }
  bucket* b = lists.free_buckets;
  lists.free_buckets = b->next;
  return b;
}

void enter_group(bucket_lists& lists, uint64_t group) {
  lists.current_group = group;
  bucket*& head = lists.group_heads[group & (group_ring - 1)];
  for (bucket* b = head; b != nullptr;) {
    for (uint32_t i = 0; i < b->count; ++i) {
      const bucket_entry e = b->entries[i];
      push_to(lists, lists.segment_heads[e.strike >> 17], {e.prime, e.strike & 0x1FFFF});
    }
    bucket* const done = b;
    b = b->next;
    release_bucket(lists, done);
  }
  head = nullptr;
}

namespace {
void append_chain(bucket*& chain, bucket*& head) {
  for (bucket* b = head; b != nullptr;) {
    bucket* const next = b->next;
    b->next = chain;
    chain = b;
    b = next;
  }
  head = nullptr;
}
}  // namespace

bucket* detach_up_to(bucket_lists& lists, uint64_t last_group) {
  bucket* chain = nullptr;
  for (bucket*& head : lists.segment_heads) append_chain(chain, head);
  const uint64_t end = std::min(last_group + 1, lists.current_group + 1 + group_ring);
  for (uint64_t g = lists.current_group + 1; g < end; ++g) append_chain(chain, lists.group_heads[g & (group_ring - 1)]);
  return chain;
}

void clear_lists(bucket_lists& lists) {
  for (bucket* b = detach_up_to(lists, lists.current_group + group_ring); b != nullptr;) {
    bucket* const next = b->next;
    release_bucket(lists, b);
    b = next;
  }
}

}  // namespace veksieve
