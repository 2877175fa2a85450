// Builds the windows of the large sieving primes and strikes their slices
// into the segments. A window costs one pass over the primes from
// bucket_prime_bound to the square root of its end, so it is wide and built
// once: the sources of a run share it, those that need it while it is built
// share out the pass, and a source moving on within it only reads its slices.
#include "primes/large_prime_window.hpp"

#include "common/platform.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>


namespace veksieve {
namespace {

// The numbers prime to 30 in a block of 30, one bit each.
constexpr uint32_t wheel_residue[8] = {1, 7, 11, 13, 17, 19, 23, 29};
// A prime q strikes only its multiples q * m with m prime to 2310: the wheel
// patterns strike the multiples of 3 to 11 in every segment anyway, and this
// saves more than a fifth of the strikes that m prime to 30 would make.
constexpr uint32_t multiplier_period = 2 * 3 * 5 * 7 * 11;
constexpr uint32_t multiplier_count = 480;  // residues prime to 2310
constexpr uint64_t window_integers = uint64_t{window_segments} * segment_span;
constexpr uint64_t max_window_bytes = window_integers / 30 + 2;
// A few bytes past the bitmap's end, all ones, let a slice be read out in
// words of four bytes.
constexpr uint64_t window_padding = 16;

// The first segment that a prime of at least bucket_prime_bound strikes: the
// buckets hold every sieving prime of the segments below.
constexpr int64_t first_windowed_segment = bucket_prime_bound * bucket_prime_bound / segment_span;
// The stream strikes with the sieving primes up to 65521 alone, exact below
// 65537^2, beyond the last prime a window below 2^63 needs.
static_assert(bucket_prime_bound % segment_span == 0 && int64_t{65537} * 65537 > int64_t{3037000500},
              "the window stream starts on a segment and is exact");
static_assert(8 * max_window_bytes < (uint64_t{1} << 32), "a strike (byte * 8 + bit) fits 32 bits");

// A prime above bucket_prime_bound strikes a window at most this often.
constexpr uint32_t max_strikes_per_prime = static_cast<uint32_t>(window_integers / bucket_prime_bound * 8 / 30) + 2;
static_assert(window_batch > 2 * max_strikes_per_prime, "a batch holds the strikes of several primes");

struct wheel_tables {
  uint8_t bit_of[30] = {};        // the bit of a residue prime to 30
  // From any m modulo 2310 to the next multiplier prime to 2310, and that
  // one's place k on the multipliers' wheel; gap[k], the step to the next.
  uint8_t advance[multiplier_period] = {};
  uint16_t index_after[multiplier_period] = {};
  uint8_t gap[multiplier_count] = {};
  // For q = 30 * qq + wheel_residue[a] and a multiplier m at k, q * m lies
  // in bit bit[a][k] of its byte, and q * (m + gap[k]) lies gap[k] * qq +
  // carry[a][k] bytes further on.
  uint8_t bit[8][multiplier_count] = {};
  uint8_t carry[8][multiplier_count] = {};
  // A byte's 15 odd numbers (30j + 1, + 3, ..., + 29) in the segment's
  // layout: the bitmap's bits where prime to 30, ones elsewhere.
  uint16_t odd_bits[256] = {};
};

constexpr wheel_tables make_wheel_tables() {
  wheel_tables t;
  for (uint32_t r = 0; r < 30; ++r) t.bit_of[r] = 0xFF;
  for (uint8_t b = 0; b < 8; ++b) t.bit_of[wheel_residue[b]] = b;
  auto coprime = [](uint32_t m) { return m % 2 != 0 && m % 3 != 0 && m % 5 != 0 && m % 7 != 0 && m % 11 != 0; };
  uint32_t residues[multiplier_count + 1] = {};
  uint32_t count = 0;
  for (uint32_t m = 0; m < multiplier_period; ++m)
    if (coprime(m)) residues[count++] = m;
  residues[count] = multiplier_period + 1;
  for (uint32_t k = 0; k < multiplier_count; ++k) t.gap[k] = static_cast<uint8_t>(residues[k + 1] - residues[k]);
  for (uint32_t r = 0, k = 0; r < multiplier_period; ++r) {
    while (residues[k] < r) ++k;
    t.advance[r] = static_cast<uint8_t>(residues[k] - r);
    t.index_after[r] = static_cast<uint16_t>(k % multiplier_count);
  }
  for (uint32_t a = 0; a < 8; ++a) {
    for (uint32_t k = 0; k < multiplier_count; ++k) {
      const uint32_t rest = wheel_residue[a] * residues[k] % 30;
      t.bit[a][k] = t.bit_of[rest];
      t.carry[a][k] = static_cast<uint8_t>((rest + wheel_residue[a] * t.gap[k]) / 30);
    }
  }
  for (uint32_t v = 0; v < 256; ++v) {
    uint32_t bits = 0;
    for (uint32_t j = 0; j < 15; ++j) {
      const uint8_t b = t.bit_of[2 * j + 1];
      if (b == 0xFF || (v >> b & 1) != 0) bits |= uint32_t{1} << j;
    }
    t.odd_bits[v] = static_cast<uint16_t>(bits);
  }
  return t;
}
constexpr wheel_tables wheel = make_wheel_tables();

// The least m with m * q >= x, for 0 < x < 2^63 and 2^24 <= q < 2^32,
// without a divide: the truncated quotient in doubles is the true floor
// within one, since the rounding errors of x, 1/q and their product
// (3 * 2^-53 relative) times x / q < 2^39 stay below 2^-12. The rest
// x - m * q then lies in (-2q, 2q) and tells how far m is from the ceiling.
ALWAYS_INLINE int64_t ceiling_quotient(int64_t x, double x_double, int64_t q) {
  const auto m = static_cast<int64_t>(x_double * (1.0 / static_cast<double>(q)));
  const int64_t rest = x - m * q;
  const int64_t ceiling = m + (rest > 0) + (rest > q) - (rest <= -q);
  ASSERT(ceiling * q >= x && (ceiling - 1) * q < x);
  return ceiling;
}

// Lists the strikes of hits and makes them a batch at a time: the strikes
// are listed first and made after, in a loop without unpredictable
// branches, so that many of their cache misses overlap; striking each prime
// as it comes ends every prime's few strikes with a mispredicted branch,
// and the misses then come one at a time.
struct striker {
  uint8_t* bytes;
  uint64_t byte_count;
  uint32_t* batch;
  uint32_t count = 0;

  void flush() {
    // Locals: the byte stores could alias the members.
    uint8_t* const b = bytes;
    const uint32_t* const list = batch;
    const uint32_t n = count;
    // Each byte is asked for well before it is struck: the stores would
    // otherwise fill the store queue while they wait for their lines.
    constexpr uint32_t ahead = 24;
    for (uint32_t j = 0; j < n; ++j) {
      if (j + ahead < n) __builtin_prefetch(b + (list[j + ahead] >> 3), 1);
      b[list[j] >> 3] &= static_cast<uint8_t>(~(1u << (list[j] & 7)));
    }
    count = 0;
  }

  void strike(const window_hit* hits, uint32_t n) {
    for (uint32_t h = 0; h < n; ++h) {
      const uint32_t q = hits[h].prime;
      const uint32_t qq = q / 30;
      const uint32_t a = wheel.bit_of[q % 30];
      uint32_t k = hits[h].place;
      for (uint64_t i = hits[h].byte; i < byte_count; k = k + 1 == multiplier_count ? 0 : k + 1) {
        batch[count++] = static_cast<uint32_t>(8 * i + wheel.bit[a][k]);
        i += wheel.gap[k] * qq + wheel.carry[a][k];
      }
      if (count > window_batch - max_strikes_per_prime) flush();
    }
  }
};

// Streams the primes q of run `run` (stream_run_segments segments from
// bucket_prime_bound on) with q^2 below the slot's end, and hands those that
// strike its window to take, a block at a time. Reads only the slot's
// plan, which stays as it is while the window is built.
template <class Take>
void stream_run(window_reader& reader, const prime_tables& tables, const window_slot& slot, int64_t run, Take&& take) {
  const int64_t base = slot.base;
  const auto base_double = static_cast<double>(base);
  const int64_t last_q = slot.last_prime;
  const auto reach = static_cast<int64_t>(30 * slot.byte_count);
  // The stream's segments are read here bit by bit rather than through
  // next_segment_prime: 10^8 primes at 2^62, each taken straight from its word.
  segment_sieve& stream = reader.primes;
  stream.below_2_to_32 = true;
  const uint32_t* const words = stream.segment.get();
  uint32_t* const primes = reader.stream_block.get();
  uint32_t* const near_primes = primes + stream_block_bits;
  uint64_t* const near_multipliers = reader.multipliers.get();
  window_hit* const hits = reader.hits.get();
  const int64_t first = bucket_prime_bound + run * stream_run_segments * segment_span;
  for (int64_t s = 0; s < stream_run_segments; ++s) {
    const int64_t start = first + s * segment_span;
    if (start > last_q) break;
    // Bit 0 of a run's first segment, start - 1, is left unstruck by its
    // sieve: a composite read there only strikes composites.
    if (s == 0) {
      position_segment(stream, tables, start);
    } else {
      sieve_segment(stream, tables);
    }
    for (uint32_t block = 0; block < segment_words; block += stream_block_bits / 32) {
      const int64_t block_start = start + 64 * int64_t{block};
      if (block_start > last_q) break;
      uint32_t found = 0;
      for (uint32_t w = block; w < block + stream_block_bits / 32; w += 2) {
        for (uint64_t live = words[w] | uint64_t{words[w + 1]} << 32; live != 0; live &= live - 1)
          primes[found++] = static_cast<uint32_t>(start + 64 * int64_t{w} + 2 * __builtin_ctzll(live) - 1);
      }
      while (found > 0 && primes[found - 1] > last_q) --found;
      // The first multiplier m >= q with q * m at or above the base, in a
      // loop without branches whose long chains (a quotient in doubles)
      // overlap from prime to prime; only the primes whose multiple lies
      // within the window's reach go on to the wheel, which takes m on to
      // the next multiplier prime to 2310.
      uint32_t near = 0;
      for (uint32_t j = 0; j < found; ++j) {
        const int64_t q = primes[j];
        const int64_t m = std::max(q, ceiling_quotient(base, base_double, q));
        near_primes[near] = static_cast<uint32_t>(q);
        near_multipliers[near] = static_cast<uint64_t>(m);
        near += m * q - base < reach;
      }
      uint32_t hit_count = 0;
      for (uint32_t j = 0; j < near; ++j) {
        const uint64_t q = near_primes[j];
        uint64_t m = near_multipliers[j];
        const auto r = static_cast<uint32_t>(m % multiplier_period);
        m += wheel.advance[r];
        const uint64_t byte = (m * q - static_cast<uint64_t>(base)) / 30;
        hits[hit_count] = {static_cast<uint32_t>(q), static_cast<uint32_t>(byte), wheel.index_after[r]};
        hit_count += byte < slot.byte_count;
      }
      take(hits, hit_count);
    }
  }
}

// Returns the blocks waiting in the slot to the caller, under the lock.
std::vector<hit_block*> take_full_blocks(window_slot& slot) {
  std::vector<hit_block*> blocks;
  blocks.swap(slot.full_blocks);
  return blocks;
}

// Streams runs of the slot's stream for its builder while any are left,
// handing the hits over in blocks. Called and returns with the lock held.
void help_build(window_reader& reader, const prime_tables& tables, window_slot& slot,
                std::unique_lock<std::mutex>& lock) {
  large_prime_windows& windows = *reader.windows;
  if (windows.free_blocks.size() < 2) {
    try {
      for (uint32_t b = 0; b < hit_pool_blocks; ++b) {
        windows.hit_pool.push_back(std::make_unique<hit_block>());
        windows.free_blocks.push_back(windows.hit_pool.back().get());
      }
    } catch (const std::bad_alloc&) {
      if (windows.free_blocks.size() < 2) return;  // only waits, as without help
    }
  }
  ++slot.helpers;
  hit_block* block = windows.free_blocks.back();
  windows.free_blocks.pop_back();
  block->count = 0;
  auto hand_over = [&] {
    slot.full_blocks.push_back(block);
    windows.changed.notify_all();
    block = nullptr;
  };
  while (slot.next_run < slot.run_count) {
    const int64_t run = slot.next_run++;
    lock.unlock();
    stream_run(reader, tables, slot, run, [&](const window_hit* hits, uint32_t n) {
      while (n > 0) {
        const uint32_t taken = std::min(n, hit_block_size - block->count);
        std::copy(hits, hits + taken, block->hits + block->count);
        block->count += taken;
        hits += taken;
        n -= taken;
        if (block->count == hit_block_size) {
          lock.lock();
          hand_over();
          windows.changed.wait(lock, [&] { return !windows.free_blocks.empty(); });
          block = windows.free_blocks.back();
          windows.free_blocks.pop_back();
          lock.unlock();
          block->count = 0;
        }
      }
    });
    lock.lock();
  }
  if (block->count > 0) {
    hand_over();
  } else {
    windows.free_blocks.push_back(block);
  }
  --slot.helpers;
  windows.changed.notify_all();
}

// Fills the slot's bitmap, whose plan take_window has set; the slot is the
// caller's alone but for the helpers, which only read its plan. Strikes its
// own runs of the stream and the helpers' blocks until the stream is done.
void build_window(window_reader& reader, const prime_tables& tables, window_slot& slot) {
  large_prime_windows& windows = *reader.windows;
  const uint64_t size = slot.byte_count + window_padding;
  if (slot.capacity < size) {
    slot.bytes.reset();
    slot.capacity = 0;
    slot.bytes.reset(new uint8_t[size]);  // left uninitialised: filled below
    slot.capacity = size;
    // The strikes land all over the bitmap: in pages of 4 KB nearly each one
    // misses the TLB, in pages of 2 MB hardly any (a third of the time at 2^62).
    advise_huge_pages(slot.bytes.get(), size);
  }
  std::memset(slot.bytes.get(), 0xFF, size);
  striker strikes{slot.bytes.get(), slot.byte_count, reader.strikes.get()};
  auto strike_blocks = [&](std::unique_lock<std::mutex>& lock) {
    while (!slot.full_blocks.empty()) {
      std::vector<hit_block*> blocks = take_full_blocks(slot);
      lock.unlock();
      for (const hit_block* b : blocks) strikes.strike(b->hits, b->count);
      lock.lock();
      windows.free_blocks.insert(windows.free_blocks.end(), blocks.begin(), blocks.end());
      windows.changed.notify_all();
    }
  };
  std::unique_lock lock(windows.mutex);
  for (;;) {
    strike_blocks(lock);
    if (slot.next_run < slot.run_count) {
      const int64_t run = slot.next_run++;
      const bool helped = slot.helpers > 0;
      lock.unlock();
      stream_run(reader, tables, slot, run, [&](const window_hit* hits, uint32_t n) {
        strikes.strike(hits, n);
        // The helpers' blocks are struck as they come, so that they never wait long.
        if (helped) {
          std::unique_lock block_lock(windows.mutex);
          strike_blocks(block_lock);
        }
      });
      lock.lock();
    } else if (slot.helpers > 0) {
      windows.changed.wait(lock);
    } else {
      break;
    }
  }
  lock.unlock();
  strikes.flush();
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

// Sets the slot to hold the segments from first to end and plans its build.
void plan_window(window_slot& slot, int64_t first, int64_t end) {
  slot.first_segment = first;
  slot.end_segment = end;
  // The first number is bit 0 of the first segment; every one lies below `limit`.
  slot.base = (first * segment_span - 1) / 30 * 30;
  const int64_t limit = end * segment_span - 1;
  slot.byte_count = static_cast<uint64_t>((limit - slot.base + 29) / 30);
  // The primes q with q^2 < limit.
  auto last_q = static_cast<int64_t>(std::sqrt(static_cast<double>(limit)));
  while (last_q * last_q >= limit) --last_q;
  while ((last_q + 1) * (last_q + 1) < limit) ++last_q;
  slot.last_prime = last_q;
  slot.next_run = 0;
  slot.run_count = (last_q - bucket_prime_bound) / (stream_run_segments * segment_span) + 1;
  slot.helpers = 0;
  slot.full_blocks.clear();
}

// Returns the built window that holds segment `number`, counting the reader
// in; builds it when no source has, helps while another builds it, and
// waits while every slot is read.
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
    window_slot* being_built = nullptr;
    for (int s = 0; s < windows.slot_count; ++s) {
      window_slot& slot = windows.slots[s];
      if (holds(slot, number)) {
        if (slot.ready) {
          ++slot.readers;
          return slot;
        }
        being_built = &slot;
      } else if (slot.readers == 0 &&
                 (free_slot == nullptr || slot.first_segment < free_slot->first_segment)) {
        // The lowest one, unused ones first: the sources climb.
        free_slot = &slot;
      }
    }
    if (being_built != nullptr) {
      if (being_built->next_run < being_built->run_count) {
        help_build(reader, tables, *being_built, lock);
        continue;
      }
    } else if (free_slot != nullptr) {
      window_slot& slot = *free_slot;
      const auto [first, end] = stretch_of(windows, number);
      plan_window(slot, first, end);
      slot.ready = false;
      slot.readers = 1;
      ++windows.builds;
      lock.unlock();
      try {
        build_window(reader, tables, slot);
      } catch (...) {
        // Only the bitmap's allocation throws, before any helper's block is
        // struck: let the helpers finish, then give their blocks back.
        lock.lock();
        slot.next_run = slot.run_count;
        windows.changed.wait(lock, [&] { return slot.helpers == 0; });
        const std::vector<hit_block*> blocks = take_full_blocks(slot);
        windows.free_blocks.insert(windows.free_blocks.end(), blocks.begin(), blocks.end());
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
      stream_block(std::make_unique<uint32_t[]>(2 * stream_block_bits)),
      multipliers(std::make_unique<uint64_t[]>(stream_block_bits)),
      hits(std::make_unique<window_hit[]>(stream_block_bits)) {}

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
  const window_slot& slot = *reader.held;
  // Bit i of the segment stands for the odd number start - 1 + 2i, the
  // (start - 2 - base) / 2 + i-th odd number from base + 1 on; the bitmap
  // holds 15 of them a byte.
  const auto first_odd = static_cast<uint64_t>(number * segment_span - 2 - slot.base) / 2;
  const uint8_t* byte = slot.bytes.get() + first_odd / 15;
  unsigned __int128 pending = wheel.odd_bits[*byte++] >> (first_odd % 15);
  auto pending_bits = static_cast<uint32_t>(15 - first_odd % 15);
  for (uint32_t w = 0; w < segment_words; w += 2) {
    while (pending_bits < 64) {
      const uint64_t four = wheel.odd_bits[byte[0]] | uint64_t{wheel.odd_bits[byte[1]]} << 15 |
                            uint64_t{wheel.odd_bits[byte[2]]} << 30 | uint64_t{wheel.odd_bits[byte[3]]} << 45;
      pending |= static_cast<unsigned __int128>(four) << pending_bits;
      pending_bits += 60;
      byte += 4;
    }
    const auto bits = static_cast<uint64_t>(pending);
    pending >>= 64;
    pending_bits -= 64;
    segment[w] &= static_cast<uint32_t>(bits);
    segment[w + 1] &= static_cast<uint32_t>(bits >> 32);
  }
}

}  // namespace veksieve
