// The prime source against primesieve over the stretches where it is most
// likely to go wrong: the first segments, the activation of large primes,
// high ranges, restarts; and the memory it holds.
#include "prime_reference.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

// Bytes requested from operator new, to hold the source to its size. The
// replacements pair malloc with free, which g++ cannot see across them.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
namespace {
size_t allocated_bytes = 0;
}
void* operator new(size_t size) {
  allocated_bytes += size;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace veksieve {
namespace {

constexpr int64_t top = (int64_t{1} << 48) - 1;

uint32_t last_active_prime(const prime_source& source) {
  return source.large_primes[source.large_count / 2 - 1].prime;
}

TEST(prime_source, hands_out_every_odd_prime_up_to_ten_million) {
  auto source = test::started_source(0);
  const auto got = test::hand_out_to(*source, 10000000);
  EXPECT_TRUE(test::same_primes(got, test::reference_primes_to(0, 10000000)));
  EXPECT_EQ(got.size(), 664578u);
}

TEST(prime_source, starts_above_pmin_in_and_across_the_first_segments) {
  auto source = test::make_source();
  for (int64_t pmin : {0, 1, 2, 3, 4, 60, 61, 62, 127, 262130, 262143, 262144, 262145, 524286, 786431}) {
    SCOPED_TRACE(pmin);
    sieve_start(*source, pmin);
    EXPECT_TRUE(test::same_primes(test::hand_out(*source, 30000), test::reference_primes(pmin, 30000)));
  }
  // The first segment is passed over entirely and the second one sieved.
  sieve_start(*source, 262130);
  EXPECT_EQ(test::hand_out(*source, 5), (std::vector<int64_t>{262133, 262139, 262147, 262151, 262153}));
}

TEST(prime_source, activates_the_first_large_block_before_it_is_needed) {
  auto source = test::make_source();
  sieve_start(*source, 12071976129);
  EXPECT_EQ(source->large_primes[0].prime, 109883u);
  EXPECT_EQ(source->large_primes[large_prime_count - 1].prime, 68056199u);
  EXPECT_EQ(source->large_count, 0u);
  EXPECT_EQ(source->large_threshold, 12071976129);
  const int64_t stop = 12074400000;
  const auto got = test::hand_out_to(*source, stop);
  EXPECT_TRUE(test::same_primes(got, test::reference_primes_to(12071976129, stop)));
  EXPECT_EQ(source->large_count, 1000u);
  // 109873 * 109883 and 109883^2: composites of the last sieving prime and
  // of the first large prime.
  EXPECT_FALSE(std::binary_search(got.begin(), got.end(), int64_t{12073174859}));
  EXPECT_FALSE(std::binary_search(got.begin(), got.end(), int64_t{12074273689}));

  sieve_start(*source, 12071976130);
  EXPECT_EQ(source->large_count, 1000u);
  EXPECT_EQ(last_active_prime(*source), 115807u);
  EXPECT_EQ(source->large_threshold, 13411161249);
  EXPECT_TRUE(test::same_primes(test::hand_out(*source, 100000), test::reference_primes(12071976130, 100000)));
}

TEST(prime_source, activates_later_blocks_on_the_way_up) {
  auto source = test::make_source();
  for (int64_t far : {int64_t{1000000000000}, int64_t{100000000000000}}) {
    sieve_start(*source, far);
    const int64_t threshold = source->large_threshold;
    const int64_t pmin = threshold - 300000;
    SCOPED_TRACE(pmin);
    sieve_start(*source, pmin);
    const uint32_t count = source->large_count;
    const int64_t stop = threshold + 800000;
    EXPECT_TRUE(test::same_primes(test::hand_out_to(*source, stop), test::reference_primes_to(pmin, stop)));
    EXPECT_EQ(source->large_count, count + 1000);
  }
}

TEST(prime_source, hands_out_the_primes_above_ten_to_the_twelfth) {
  const int64_t pmin = 1000000000000;
  auto source = test::started_source(pmin);
  EXPECT_EQ(source->large_count, 137000u);
  EXPECT_EQ(last_active_prime(*source), 1006037u);
  EXPECT_EQ(source->large_threshold, int64_t{1006037} * 1006037 - 100000);
  EXPECT_EQ(peek_prime(*source), 1000000000039);
  const auto got = test::hand_out_to(*source, 1000000100000);
  EXPECT_EQ(got.size(), 3614u);
  EXPECT_TRUE(test::same_primes(got, test::reference_primes_to(pmin, 1000000100000)));
}

TEST(prime_source, stays_exact_across_two_to_the_forty_eighth) {
  auto source = test::started_source(top);
  EXPECT_EQ(source->large_count, 2135000u);
  EXPECT_EQ(last_active_prime(*source), 16778543u);

  const int64_t pmin = top - (int64_t{1} << 21);
  sieve_start(*source, pmin);
  const int64_t stop = top + (int64_t{1} << 20);
  EXPECT_TRUE(test::same_primes(test::hand_out_to(*source, stop), test::reference_primes_to(pmin, stop)));
}

TEST(prime_source, restart_gives_the_state_of_a_fresh_start) {
  const int64_t pmin = 53333333333333;
  auto restarted = test::started_source(1000000000000);
  test::hand_out(*restarted, 400000);  // carries it across several segments and blocks
  sieve_start(*restarted, pmin);
  const auto fresh = test::started_source(pmin);

  const prime_source& a = *restarted;
  const prime_source& b = *fresh;
  EXPECT_EQ(a.pos_5_29_31, b.pos_5_29_31);
  EXPECT_EQ(a.pos_3_7_13_17, b.pos_3_7_13_17);
  EXPECT_EQ(a.pos_11_19_23, b.pos_11_19_23);
  EXPECT_EQ(a.chunk - a.segment.get(), b.chunk - b.segment.get());
  EXPECT_EQ(a.chunk_base, b.chunk_base);
  EXPECT_EQ(a.large_count, b.large_count);
  EXPECT_EQ(a.large_threshold, b.large_threshold);
  ASSERT_EQ(a.pending_count, b.pending_count);
  EXPECT_TRUE(std::equal(&a.pending[0], &a.pending[a.pending_count], &b.pending[0]));
  EXPECT_TRUE(std::equal(&a.segment[0], &a.segment[segment_words], &b.segment[0]));
  EXPECT_TRUE(std::equal(&a.packed_sieve[0], &a.packed_sieve[sieving_prime_count], &b.packed_sieve[0]));
  const auto same_entry = [](const prime_strike& x, const prime_strike& y) {
    return x.prime == y.prime && x.strike == y.strike;
  };
  EXPECT_TRUE(std::equal(&a.large_primes[0], &a.large_primes[large_prime_count], &b.large_primes[0], same_entry));

  EXPECT_EQ(test::hand_out(*restarted, 300000), test::hand_out(*fresh, 300000));
}

TEST(prime_source, holds_about_32_megabytes) {
  const size_t before = allocated_bytes;
  auto source = test::started_source(top);
  const size_t held = allocated_bytes - before;
  sieve_start(*source, 1000000000000);
  const size_t held_after_restart = allocated_bytes - before;
  // Almost all of it the 4,000,000 large primes at 8 bytes each.
  EXPECT_GT(held, size_t{32000000});
  EXPECT_LT(held, size_t{32400000});
  EXPECT_EQ(held_after_restart, held) << "a restart keeps its storage";
}

}  // namespace
}  // namespace veksieve
