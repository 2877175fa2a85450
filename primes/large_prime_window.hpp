// The sieving primes above bucket_prime_bound, which strike only segments
// from bucket_prime_bound^2 on. They are not kept: once per window of
// segments a small sieve streams them out, and each strikes the window's
// bitmap from its first multiple there, found by one quotient. Every
// segment of the window is then ANDed with its slice of the bitmap. The
// windows are one object of the run, built once each and read by every
// worker's source; a worker that needs a window being built streams part of
// the primes for the builder.
#pragma once

#include "common/config.hpp"
#include "primes/segment_sieve.hpp"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace veksieve {

// Strikes are listed this many at a time (16 KB, in the first-level cache).
inline constexpr uint32_t window_batch = 4096;
// The stream's primes are taken this many bits of a segment at a time.
inline constexpr uint32_t stream_block_bits = 8192;
// The stream is shared out between the builder and its helpers in runs of
// this many segments, each positioned afresh (about a third of a segment's
// sieving).
inline constexpr int64_t stream_run_segments = 16;
// A helper hands its primes that strike the window to the builder in blocks
// of this many (96 KB), through a pool of hit_pool_blocks per helper.
inline constexpr uint32_t hit_block_size = 8192;
inline constexpr uint32_t hit_pool_blocks = 6;

// A prime that strikes the window, and where: the byte of its first
// multiple q * m in the window, and the place of m among the multipliers
// prime to 2310.
struct window_hit {
  uint32_t prime;
  uint32_t byte;
  uint32_t place;
};

struct hit_block {
  uint32_t count = 0;
  window_hit hits[hit_block_size];
};

// One window: byte j of the bitmap stands for the 30 integers from
// base + 30j, bit b for base + 30j + wheel_residue[b] (1, 7, 11, 13, 17,
// 19, 23, 29); a bit is clear when a prime above bucket_prime_bound divides
// that number. It covers every odd number of its segments, first_segment *
// 2^18 - 1 (bit 0 of the first) on; those not prime to 30 are the wheel's.
struct window_slot {
  std::unique_ptr<uint8_t[]> bytes;  // allocated when the slot is first built, and grown
  uint64_t capacity = 0;             // bytes allocated
  int64_t first_segment = -1;        // -1 while it holds no window
  int64_t end_segment = -1;          // one past its last segment
  int64_t base = 0;                  // a multiple of 30 below the first number
  uint64_t byte_count = 0;           // bytes of the bitmap
  int readers = 0;                   // sources reading it, or the one building it
  bool ready = false;                // built; only then read by others

  // While it is built: the stream runs not yet taken, the helpers at work
  // and their blocks of hits waiting for the builder.
  int64_t last_prime = 0;  // the largest q with q^2 below the window's end
  int64_t next_run = 0;
  int64_t run_count = 0;
  int helpers = 0;
  std::vector<hit_block*> full_blocks;
};

// The windows of a run. With one worker, one window of window_segments
// segments; with more, two of half that, so that one can be read while the
// next is built and the run still holds window_segments of bitmap. Within
// the run's range the windows lie on a grid from its first segment, so two
// workers that cross into the next stretch at different segments still
// want the same window, and none reaches past the range's end. A window is
// built by the first source that needs it; the others that need it help.
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
  // The helpers' blocks, allocated as helpers first join; those not in use.
  std::vector<std::unique_ptr<hit_block>> hit_pool;
  std::vector<hit_block*> free_blocks;
};

// One source's hold on the windows, and what it needs to build one or help.
struct window_reader {
  explicit window_reader(std::shared_ptr<large_prime_windows> shared);
  ~window_reader();
  window_reader(const window_reader&) = delete;
  window_reader& operator=(const window_reader&) = delete;

  std::shared_ptr<large_prime_windows> windows;
  window_slot* held = nullptr;          // the window read, kept from being rebuilt
  std::unique_ptr<uint32_t[]> strikes;  // window_batch bit indices waiting to be struck
  std::unique_ptr<uint32_t[]> stream_block;  // 2 * stream_block_bits: the stream's primes at hand
  std::unique_ptr<uint64_t[]> multipliers;   // stream_block_bits: their first multipliers
  std::unique_ptr<window_hit[]> hits;   // stream_block_bits: a block's primes that strike
  segment_sieve primes;                 // streams the primes above bucket_prime_bound
};

// Clears in segment, freshly sieved and the number-th, the multiples of the
// primes above bucket_prime_bound, first taking (or building) the window
// that holds the segment when it lies outside the one held. Nothing to do
// below bucket_prime_bound^2.
void strike_large_primes(window_reader& reader, const prime_tables& tables, int64_t number, uint32_t* segment);

}  // namespace veksieve
