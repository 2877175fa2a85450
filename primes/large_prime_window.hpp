// The sieving primes above bucket_prime_bound, which strike only segments
// from bucket_prime_bound^2 on. They are not kept: once per window of
// segments a small sieve streams them out, and each strikes the window's
// bitmap from its first multiple there, found by one remainder. Every
// segment of the window is then ANDed with its slice of the bitmap. The
// windows are one object of the run, built once each and read by every
// worker's source.
#pragma once

#include "common/config.hpp"
#include "primes/segment_sieve.hpp"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

namespace veksieve {

// Strikes are listed this many at a time (16 KB, in the first-level cache).
inline constexpr uint32_t window_batch = 4096;
// The stream's primes are taken this many bits of a segment at a time (a
// prime, its first strike and its place on the wheel each: 128 KB).
inline constexpr uint32_t stream_block_bits = 8192;

// One window: bit i of segment j stands for the odd number
// (first_segment + j) * 2^18 + 2i - 1, as in the segment itself; a bit is
// clear when a prime above bucket_prime_bound divides that number.
struct window_slot {
  std::unique_ptr<uint32_t[]> bits;  // allocated when the slot is first built, and grown
  uint64_t capacity = 0;             // words allocated
  int64_t first_segment = -1;        // -1 while it holds no window
  int64_t end_segment = -1;          // one past its last segment
  int readers = 0;                   // sources reading it, or the one building it
  bool ready = false;                // built; only then read by others
};

// The windows of a run. With one worker, one window of window_segments
// segments; with more, two of half that, so that one can be read while the
// next is built and the run still holds window_segments of bitmap. Within
// the run's range the windows lie on a grid from its first segment, so two
// workers that cross into the next stretch at different segments still
// want the same window, and none reaches past the range's end. A window is
// built by the first source that needs it; the others wait for it.
struct large_prime_windows {
  // Without a range: one window, starting at the segment asked for.
  large_prime_windows() = default;
  // For `workers` sources over the primes above pmin up to pmax.
  large_prime_windows(int workers, int64_t pmin, int64_t pmax);

  int slot_count = 1;
  int64_t width = window_segments;  // segments of a slot
  int64_t grid_origin = -1;         // the range's first segment, -1 without a range
  int64_t range_end = -1;           // one past the segment after the range's end

  int64_t builds = 0;                // windows built so far

  std::mutex mutex;
  std::condition_variable changed;
  window_slot slots[2];
};

// One source's hold on the windows, and what it needs to build one.
struct window_reader {
  explicit window_reader(std::shared_ptr<large_prime_windows> shared);
  ~window_reader();
  window_reader(const window_reader&) = delete;
  window_reader& operator=(const window_reader&) = delete;

  std::shared_ptr<large_prime_windows> windows;
  window_slot* held = nullptr;          // the window read, kept from being rebuilt
  std::unique_ptr<uint32_t[]> strikes;  // window_batch bit indices waiting to be struck
  std::unique_ptr<uint32_t[]> stream_block;  // 4 * stream_block_bits: the stream's primes at hand
  segment_sieve primes;                 // streams the primes above bucket_prime_bound
};

// Clears in segment, freshly sieved and the number-th, the multiples of the
// primes above bucket_prime_bound, first taking (or building) the window
// that holds the segment when it lies outside the one held. Nothing to do
// below bucket_prime_bound^2.
void strike_large_primes(window_reader& reader, const prime_tables& tables, int64_t number, uint32_t* segment);

}  // namespace veksieve
