// Builds the windows of the large sieving primes and strikes their slices
// into the segments. A window costs one pass over the primes from
// bucket_prime_bound to the square root of its end, so it is wide and built
// once: the sources of a run share it, and a source moving on within it
// only reads its slices.
#include "primes/large_prime_window.hpp"

#include "primes/strike.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

namespace veksieve {
namespace {

constexpr uint64_t window_bits = uint64_t{window_segments} * segment_bits;
// The first segment that a prime of at least bucket_prime_bound strikes: the
// buckets hold every sieving prime of the segments below.
constexpr int64_t first_windowed_segment = bucket_prime_bound * bucket_prime_bound / segment_span;
// The stream strikes with the sieving primes up to 65521 alone, exact below
// 65537^2, beyond the last prime a window below 2^63 needs.
static_assert(bucket_prime_bound % segment_span == 0 && int64_t{65537} * 65537 > int64_t{3037000500},
              "the window stream starts on a segment and is exact");
static_assert(window_bits < (uint64_t{1} << 32), "a window's bit index fits 32 bits");

// A prime above bucket_prime_bound strikes a window at most this often.
constexpr uint32_t max_strikes_per_prime = static_cast<uint32_t>(window_bits / bucket_prime_bound) + 1;
static_assert(window_batch > 2 * max_strikes_per_prime, "a batch holds the strikes of several primes");

// A prime strikes only its multiples q * m with m prime to 30: the wheel
// patterns strike the multiples of 3 and 5 in every segment anyway, and
// this saves 7 of every 15 strikes. The multipliers prime to 30 are
// 1, 7, 11, 13, 17, 19, 23, 29 modulo 30; half_gaps[k] is half the gap from
// the k-th to the next, in which the bit index moves by half_gaps[k] * q.
constexpr uint32_t half_gaps[8] = {3, 2, 1, 2, 1, 2, 3, 1};
// For an odd m modulo 30: how far to the next multiplier prime to 30, and its k.
constexpr uint8_t advance_to_wheel[30] = {0, 0, 0, 4, 0, 2, 0, 0, 0, 2, 0, 0, 0, 0, 0,
                                          2, 0, 0, 0, 0, 0, 2, 0, 0, 0, 4, 0, 2, 0, 0};
constexpr uint8_t wheel_index[30] = {0, 0, 0, 1, 0, 1, 0, 1, 0, 2, 0, 2, 0, 3, 0,
                                     4, 0, 4, 0, 5, 0, 6, 0, 6, 0, 7, 0, 7, 0, 7};

// The least m with m * q >= x, for 0 < x < 2^63 and 2^24 <= q < 2^32,
// without a divide: the truncated quotient in doubles is the true floor
// within one, since the rounding errors of x, 1/q and their product
// (3 * 2^-53 relative) times x / q < 2^39 stay below 2^-12. The rest
// x - m * q then lies in (-2q, 2q) and tells how far m is from the ceiling.
ALWAYS_INLINE int64_t ceiling_quotient(int64_t x, int64_t q) {
  const auto m = static_cast<int64_t>(static_cast<double>(x) * (1.0 / static_cast<double>(q)));
  const int64_t rest = x - m * q;
  const int64_t ceiling = m + (rest > 0) + (rest > q) - (rest <= -q);
  ASSERT(ceiling * q >= x && (ceiling - 1) * q < x);
  return ceiling;
}

void strike_batch(uint32_t* bits, const uint32_t* batch, uint32_t count) {
  for (uint32_t j = 0; j < count; ++j) clear_bit(bits, batch[j]);
}

// Fills the slot's bitmap for its segments; the slot is the caller's alone.
void build_window(window_reader& reader, const prime_tables& tables, window_slot& slot) {
  const auto span_bits = static_cast<uint64_t>(slot.end_segment - slot.first_segment) * segment_bits;
  if (slot.capacity < span_bits / 32) {
    slot.bits.reset();
    slot.capacity = 0;
    slot.bits.reset(new uint32_t[span_bits / 32]);  // left uninitialised: filled below
    slot.capacity = span_bits / 32;
  }
  uint32_t* const bits = slot.bits.get();
  std::fill(bits, bits + span_bits / 32, 0xFFFFFFFF);

  // Bit 0 stands for x; every number of the window lies below end.
  const int64_t x = slot.first_segment * segment_span - 1;
  const int64_t end = x + 2 * static_cast<int64_t>(span_bits);
  // The stream's segments are read here bit by bit rather than through
  // next_segment_prime: 10^8 primes at 2^62, each taken straight from its word.
  segment_sieve& stream = reader.primes;
  stream.below_2_to_32 = true;
  position_segment(stream, tables, bucket_prime_bound);
  const uint32_t* const words = stream.segment.get();
  // The strikes of a batch of primes are listed first and made after, in a
  // loop without unpredictable branches, so that many of their cache misses
  // overlap; striking each prime as it comes ends every prime's few strikes
  // with a mispredicted branch, and the misses then come one at a time.
  uint32_t* const batch = reader.strikes.get();
  uint32_t count = 0;
  // A block of the stream's primes is read out first, then each one's first
  // strike found in a loop without branches, whose long chains of dependent
  // operations (a quotient in doubles, a remainder modulo 30) then overlap
  // from prime to prime; only the primes that strike the window go on.
  uint32_t* const primes = reader.stream_block.get();
  uint32_t* const hit_primes = primes + stream_block_bits;
  uint32_t* const hit_starts = hit_primes + stream_block_bits;
  uint32_t* const hit_wheel = hit_starts + stream_block_bits;
  // The primes q with q^2 < end.
  auto last_q = static_cast<int64_t>(std::sqrt(static_cast<double>(end)));
  while (last_q * last_q >= end) --last_q;
  while ((last_q + 1) * (last_q + 1) < end) ++last_q;
  for (int64_t start = bucket_prime_bound; start <= last_q; start += segment_span) {
    if (start != bucket_prime_bound) sieve_segment(stream, tables);
    for (uint32_t block = 0; block < segment_words; block += stream_block_bits / 32) {
      const int64_t block_start = start + 64 * int64_t{block};
      if (block_start > last_q) break;
      uint32_t found = 0;
      for (uint32_t w = block; w < block + stream_block_bits / 32; w += 2) {
        for (uint64_t live = words[w] | uint64_t{words[w + 1]} << 32; live != 0; live &= live - 1)
          primes[found++] = static_cast<uint32_t>(start + 64 * int64_t{w} + 2 * __builtin_ctzll(live) - 1);
      }
      while (found > 0 && primes[found - 1] > last_q) --found;
      uint32_t hits = 0;
      for (uint32_t j = 0; j < found; ++j) {
        // Bit 0 of the first stream segment stands for 2^24 - 1, which the wheel strikes.
        const int64_t q = primes[j];
        // m: the first multiplier with q * m at or above x and q^2, and odd,
        // so that q * m is odd; then the first one prime to 30.
        int64_t m = std::max(q, ceiling_quotient(x, q)) | 1;
        const auto r = static_cast<uint32_t>(m % 30);
        m += advance_to_wheel[r];
        const auto first = static_cast<uint64_t>(m * q - x) / 2;
        hit_primes[hits] = static_cast<uint32_t>(q);
        hit_starts[hits] = static_cast<uint32_t>(first);
        hit_wheel[hits] = wheel_index[r];
        hits += first < span_bits;
      }
      for (uint32_t j = 0; j < hits; ++j) {
        const uint64_t step = hit_primes[j];
        uint32_t k = hit_wheel[j];
        for (uint64_t i = hit_starts[j]; i < span_bits; i += half_gaps[k] * step, k = (k + 1) % 8)
          batch[count++] = static_cast<uint32_t>(i);
        if (count > window_batch - max_strikes_per_prime) {
          strike_batch(bits, batch, count);
          count = 0;
        }
      }
    }
  }
  strike_batch(bits, batch, count);
}

bool holds(const window_slot& slot, int64_t number) {
  return slot.first_segment >= 0 && number >= slot.first_segment && number < slot.end_segment;
}

// The stretch of the window that holds segment `number`: on the grid within
// the range, from the segment itself outside it (a source placed below the
// range, or handing out past its end).
std::pair<int64_t, int64_t> stretch_of(const large_prime_windows& windows, int64_t number) {
  if (windows.grid_origin < 0 || number < windows.grid_origin || number >= windows.range_end)
    return {number, number + windows.width};
  const int64_t first = number - (number - windows.grid_origin) % windows.width;
  return {first, std::min(first + windows.width, windows.range_end)};
}

// Returns the built window that holds segment `number`, counting the reader
// in; builds it when no source has, waits while another builds it or while
// every slot is read.
window_slot& take_window(window_reader& reader, const prime_tables& tables, int64_t number) {
  large_prime_windows& windows = *reader.windows;
  std::unique_lock lock(windows.mutex);
  if (reader.held != nullptr) {
    --reader.held->readers;
    reader.held = nullptr;
    windows.changed.notify_all();
  }
  for (;;) {
    window_slot* free_slot = nullptr;
    bool building = false;
    for (int s = 0; s < windows.slot_count; ++s) {
      window_slot& slot = windows.slots[s];
      if (holds(slot, number)) {
        if (slot.ready) {
          ++slot.readers;
          return slot;
        }
        building = true;
      } else if (slot.readers == 0 &&
                 (free_slot == nullptr || slot.first_segment < free_slot->first_segment)) {
        // The lowest one, unused ones first: the sources climb.
        free_slot = &slot;
      }
    }
    if (!building && free_slot != nullptr) {
      window_slot& slot = *free_slot;
      std::tie(slot.first_segment, slot.end_segment) = stretch_of(windows, number);
      slot.ready = false;
      slot.readers = 1;
      ++windows.builds;
      lock.unlock();
      try {
        build_window(reader, tables, slot);
      } catch (...) {
        lock.lock();
        slot.first_segment = slot.end_segment = -1;
        slot.readers = 0;
        windows.changed.notify_all();
        throw;
      }
      lock.lock();
      slot.ready = true;
      windows.changed.notify_all();
      return slot;
    }
    windows.changed.wait(lock);
  }
}

}  // namespace

large_prime_windows::large_prime_windows(int workers, int64_t pmin, int64_t pmax)
    : slot_count(workers > 1 ? 2 : 1),
      width(window_segments / slot_count),
      grid_origin(std::max<int64_t>(pmin, 0) / segment_span),
      // The source hands out the first prime past pmax too: one segment more.
      range_end(std::max<int64_t>(pmax, 0) / segment_span + 2) {}

window_reader::window_reader(std::shared_ptr<large_prime_windows> shared)
    : windows(shared ? std::move(shared) : std::make_shared<large_prime_windows>()),
      strikes(std::make_unique<uint32_t[]>(window_batch)),
      stream_block(std::make_unique<uint32_t[]>(4 * stream_block_bits)) {}

window_reader::~window_reader() {
  if (held == nullptr) return;
  std::lock_guard lock(windows->mutex);
  --held->readers;
  windows->changed.notify_all();
}

void strike_large_primes(window_reader& reader, const prime_tables& tables, int64_t number, uint32_t* segment) {
  if (number < first_windowed_segment) return;
  // The held window changes only while no source holds it.
  if (reader.held == nullptr || !holds(*reader.held, number)) reader.held = &take_window(reader, tables, number);
  const uint32_t* const slice =
      reader.held->bits.get() + static_cast<uint64_t>(number - reader.held->first_segment) * segment_words;
  for (uint32_t w = 0; w < segment_words; ++w) segment[w] &= slice[w];
}

}  // namespace veksieve
