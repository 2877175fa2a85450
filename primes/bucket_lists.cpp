// The bucket pool: slabs of buckets allocated as the lists first need them
// and kept for the life of the source, so that a climbing or repositioned
// source reuses its storage.
#include "primes/bucket_lists.hpp"

namespace veksieve {

bucket_lists::bucket_lists() : heads(std::make_unique<bucket*[]>(bucket_ring)) {}

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

void clear_lists(bucket_lists& lists) {
  for (uint32_t i = 0; i < bucket_ring; ++i) {
    for (bucket* b = lists.heads[i]; b != nullptr;) {
      bucket* next = b->next;
      release_bucket(lists, b);
      b = next;
    }
    lists.heads[i] = nullptr;
  }
}

}  // namespace veksieve
