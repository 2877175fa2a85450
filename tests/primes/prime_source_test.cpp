// The prime source against primesieve over the stretches where it is most
// likely to go wrong: the first segments, the squares where bucket primes
// join, the ring of bucket lists wrapping, the height where the windows of
// large primes take over and the ends of a window, high ranges up to 2^62,
// every way of repositioning; and the memory it holds.
#include "prime_reference.hpp"

#include "common/exact_primality.hpp"
#include "common/odd_inverse.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <new>
#include <thread>
#include <vector>

// Bytes requested from operator new, to hold the source to its size; atomic,
// since sources share windows across threads. The replacements pair malloc
// with free, which g++ cannot see across them.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
namespace {
std::atomic<size_t> allocated_bytes{0};
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

constexpr int64_t two_to_48 = int64_t{1} << 48;
constexpr int64_t two_to_62 = int64_t{1} << 62;

bool handed_out(const std::vector<int64_t>& primes, int64_t n) {
  return std::binary_search(primes.begin(), primes.end(), n);
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
    EXPECT_TRUE(test::same_primes(test::hand_out(*source, 30000), test::primes_from(pmin + 1, 30000)));
  }
  // The first segment is passed over entirely and the second one sieved.
  sieve_start(*source, 262130);
  EXPECT_EQ(test::hand_out(*source, 5), (std::vector<int64_t>{262133, 262139, 262147, 262151, 262153}));
}

// Bucket primes join the sieve at their squares: the first of them (131101),
// the first ones handed out by a new segment of the bucket-prime sieve
// (above 262144 and 524288), and one above 10^6.
TEST(prime_source, strikes_each_bucket_prime_from_its_square) {
  auto source = test::make_source();
  for (int64_t p : {131101, 131111, 262147, 524309, 1000003}) {
    const int64_t square = p * p;
    const int64_t pmin = square - 3 * segment_span - 1000;
    SCOPED_TRACE(p);
    sieve_start(*source, pmin);
    const int64_t stop = square + 2 * segment_span;
    const auto got = test::hand_out_to(*source, stop);
    EXPECT_TRUE(test::same_primes(got, test::reference_primes_to(pmin, stop)));
    EXPECT_FALSE(handed_out(got, square));
  }
}

// The lists sit in a ring of 2^15 segments; cross the point where it wraps
// (a multiple of 2^33) climbing, at the heights where the largest bucket
// primes are filed furthest ahead.
TEST(prime_source, stays_exact_where_the_ring_of_lists_wraps) {
  auto source = test::make_source();
  for (int64_t wrap : {int64_t{1} << 40, int64_t{116415} << 33, int64_t{1} << 56}) {
    const int64_t pmin = wrap - 3 * segment_span;
    SCOPED_TRACE(pmin);
    sieve_start(*source, pmin);
    const int64_t stop = wrap + 3 * segment_span;
    EXPECT_TRUE(test::same_primes(test::hand_out_to(*source, stop), test::reference_primes_to(pmin, stop)));
  }
}

TEST(prime_source, hands_out_the_primes_above_high_starting_points) {
  auto source = test::make_source();
  for (int64_t pmin : {int64_t{1000000000000}, two_to_48 - (int64_t{1} << 21), int64_t{1000000000000000},
                       int64_t{100000000000000000}}) {
    SCOPED_TRACE(pmin);
    sieve_start(*source, pmin);
    EXPECT_TRUE(test::same_primes(test::hand_out(*source, 200000), test::primes_from(pmin + 1, 200000)));
  }
  sieve_start(*source, 1000000000000);
  EXPECT_EQ(peek_prime(*source), 1000000000039);
}

// Every prime from 2^62 - 2^24 to 2^62 and the first one past it, and the
// memory a source holds there: the buckets up to 2^24 and a window.
TEST(prime_source, hands_out_the_last_stretch_below_two_to_the_62nd) {
  const size_t before = allocated_bytes;
  const int64_t pmin = two_to_62 - (int64_t{1} << 24);
  auto source = test::started_source(pmin);
  const size_t held = allocated_bytes - before;
  const auto got = test::hand_out_to(*source, two_to_62);
  const auto want = test::reference_primes_to(pmin, two_to_62);
  EXPECT_TRUE(test::same_primes(got, want));
  EXPECT_GT(want.size(), 380000u);
  EXPECT_EQ(next_prime(*source), test::primes_from(two_to_62, 1).front());
  std::cout << "held at 2^62: " << held / 1000000 << " MB\n";
  EXPECT_LT(held, size_t{64} << 20);
}

// A source moved to pmin within its segment, forward by a little or by more
// than the ring, or back, hands out what a fresh source does.
TEST(prime_source, repositions_to_what_a_fresh_start_hands_out) {
  auto source = test::started_source(1000000000000);
  const int64_t moves[] = {
      1000000000000 + 1000,            // within the segment it holds
      1000000000000 + 100,             // back within it, after reading past
      1000000000000 + 3 * segment_span + 17,  // a few segments on
      1000000000000 + 5000 * segment_span,    // thousands of segments on
      53333333333333,                  // far more than the ring on
      53333333333333 - 100 * segment_span,    // back
      2000000000,                      // back below the first bucket prime's square
      300000000000,                    // up again across many squares
  };
  for (int64_t pmin : moves) {
    SCOPED_TRACE(pmin);
    test::hand_out(*source, 20000);
    sieve_start(*source, pmin);
    EXPECT_TRUE(test::same_primes(test::hand_out(*source, 100000), test::primes_from(pmin + 1, 100000)));
  }
}

// Climbing from the buckets alone into the first window at 2^48; and a
// window built on the way up whose first number, x = q * m with primes q and
// m just above 2^24, has no smaller factor: only the window strikes it.
TEST(prime_source, stays_exact_where_the_windows_of_large_primes_begin_and_follow) {
  const int64_t windowed = bucket_prime_bound * bucket_prime_bound;
  auto source = test::started_source(windowed - 3 * segment_span);
  EXPECT_TRUE(test::same_primes(test::hand_out_to(*source, windowed + 3 * segment_span),
                                test::reference_primes_to(windowed - 3 * segment_span, windowed + 3 * segment_span)));

  int64_t q = bucket_prime_bound + 1;
  while (!is_prime(q)) q += 2;
  const uint64_t inverse = odd_inverse(static_cast<uint64_t>(q));
  int64_t m = static_cast<int64_t>(-inverse % segment_span) + bucket_prime_bound;
  while (!is_prime(m)) m += segment_span;
  const int64_t x = q * m;
  ASSERT_EQ((x + 1) % segment_span, 0);
  const int64_t window_span = int64_t{window_segments} * segment_span;
  sieve_start(*source, x + 1 - window_span + 5);  // a window ending at x
  sieve_start(*source, x - 1000);                 // within it
  EXPECT_TRUE(test::same_primes(test::hand_out_to(*source, x + 1000), test::reference_primes_to(x - 1000, x + 1000)));
}

// Moving on within a window, past it, and back before it, near 10^17; and
// what a source holds there.
TEST(prime_source, repositions_across_windows) {
  const int64_t base = 100000000000000000;
  const size_t before = allocated_bytes;
  auto source = test::started_source(base);
  const size_t held = allocated_bytes - before;
  std::cout << "held at 10^17: " << held / 1000000 << " MB\n";
  EXPECT_LT(held, size_t{64} << 20);
  for (int64_t pmin : {base + 100000000, base + 2000000000, base + 1000000000, base + 1500000000, base - 1}) {
    SCOPED_TRACE(pmin);
    sieve_start(*source, pmin);
    EXPECT_TRUE(test::same_primes(test::hand_out(*source, 50000), test::primes_from(pmin + 1, 50000)));
  }
}

TEST(prime_source, holds_less_as_it_starts_lower_and_keeps_its_storage) {
  const int64_t below_windows = two_to_48 - (int64_t{1} << 21);
  const size_t before = allocated_bytes;
  auto source = test::started_source(below_windows);
  const size_t held = allocated_bytes - before;
  sieve_start(*source, 1000000000000);
  sieve_start(*source, below_windows - 1000000);
  const size_t held_after_restarts = allocated_bytes - before;
  std::cout << "held just below 2^48: " << held / 1000 << " KB\n";
  // The 1.08 million bucket primes up to 2^24 at 8 bytes, no window, and a bucket
  // begun for each of the 128 lists ahead.
  EXPECT_LT(held, size_t{11000000});
  EXPECT_EQ(held_after_restarts, held) << "a restart keeps its storage";
}

// Two workers' sources sharing the windows of a run take chunks in turn, as
// control/parallel_sieve hands them out, across the boundary of the run's
// first two windows above 2^50: each hands out exactly the reference primes,
// and each window is built once.
TEST(prime_source, sources_sharing_windows_hand_out_the_primes_across_a_window_boundary) {
  const int64_t boundary = ((int64_t{1} << 50) / segment_span + 3000) * segment_span;
  const int64_t width = int64_t{window_segments} / 2 * segment_span;
  const int64_t run_end = boundary + 6 * segment_span;
  auto windows = std::make_shared<large_prime_windows>(2, boundary - width, run_end);
  const int64_t chunk = segment_span + 12345;
  auto sieve_chunks = [&](int first, std::vector<int64_t>& got) {
    prime_source source(test::shared_tables(), windows);
    for (int64_t lo = boundary - 5 * chunk + first * chunk; lo < run_end; lo += 2 * chunk) {
      sieve_start(source, lo);
      const auto primes = test::hand_out_to(source, std::min(lo + chunk, run_end));
      got.insert(got.end(), primes.begin(), primes.end());
    }
  };
  std::vector<int64_t> even, odd;
  std::thread other(sieve_chunks, 1, std::ref(odd));
  sieve_chunks(0, even);
  other.join();
  std::vector<int64_t> got;
  std::merge(even.begin(), even.end(), odd.begin(), odd.end(), std::back_inserter(got));
  EXPECT_TRUE(test::same_primes(got, test::reference_primes_to(boundary - 5 * chunk, run_end)));
  EXPECT_EQ(windows->builds, 2);
}

// Two workers that start in the same window at once, near 2^62 where its
// stream is longest: one builds it and the other streams part of the primes
// for it. Both ends of the run's only window, which ends a segment past the
// range, hand out the reference primes, and it is built once.
TEST(prime_source, two_sources_starting_in_one_window_build_it_together) {
  const int64_t pmin = two_to_62 - (int64_t{1} << 31);
  const int64_t pmax = pmin + 300000000;
  auto windows = std::make_shared<large_prime_windows>(2, pmin, pmax);
  std::vector<int64_t> low, high;
  auto sieve = [&](int64_t from, int64_t to, std::vector<int64_t>& got) {
    prime_source source(test::shared_tables(), windows);
    sieve_start(source, from);
    got = test::hand_out_to(source, to);
  };
  const int64_t last = pmax / segment_span * segment_span + segment_span - 3;  // the range's last segment ends here
  std::thread other(sieve, last - 3000000, last + segment_span / 2, std::ref(high));
  sieve(pmin, pmin + 3000000, low);
  other.join();
  EXPECT_TRUE(test::same_primes(low, test::reference_primes_to(pmin, pmin + 3000000)));
  EXPECT_TRUE(test::same_primes(high, test::reference_primes_to(last - 3000000, last + segment_span / 2)));
  EXPECT_EQ(windows->builds, 1);
}

// What a run of two workers holds at 2^62 with one worker in each window:
// both slots, two sources' buckets and the tables.
TEST(prime_source, two_workers_sharing_windows_hold_less_than_64_mb) {
  const int64_t pmin = two_to_62 - (int64_t{1} << 31);
  const size_t before = allocated_bytes;
  auto tables = build_prime_tables();
  auto windows = std::make_shared<large_prime_windows>(2, pmin, two_to_62);
  prime_source first(tables, windows), second(tables, windows);
  sieve_start(first, pmin);
  sieve_start(second, pmin + int64_t{window_segments} / 2 * segment_span + 1000);
  const size_t held = allocated_bytes - before;
  std::cout << "two workers hold at 2^62: " << held / 1000000 << " MB\n";
  EXPECT_LT(held, size_t{64} << 20);
  EXPECT_EQ(windows->builds, 2);
}

}  // namespace
}  // namespace veksieve
