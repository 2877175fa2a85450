// Chunk hand-out, the workers and the in-order commit loop. Chunk bounds lie
// on multiples of the progress bit, so each chunk's engine reports progress
// at exactly the primes a single engine over the whole range would.
#include "control/parallel_sieve.hpp"

#include <algorithm>
#include <chrono>
#include <memory>
#include <new>
#include <thread>

#include "common/config.hpp"
#include "common/platform.hpp"
#include "primes/prime_source.hpp"
#include "report/exact_arithmetic.hpp"
#include "report/sieve_memory.hpp"

namespace veksieve {

namespace {

// What a worker's engine calls back into: records, nothing else.
struct recorder {
  std::vector<finding> records;
  uint32_t nmin = 0;
  uint32_t nmax = 0;
  engine_memory memory;
};

void* allocate_for(void* context, uint32_t size) {
  const engine_memory& memory = static_cast<recorder*>(context)->memory;
  return memory.allocate(memory.context, size);
}

void release_for(void* context, void* block) {
  const engine_memory& memory = static_cast<recorder*>(context)->memory;
  memory.release(memory.context, block);
}

void record_factor(void* context, uint32_t index, uint32_t n, int64_t p) {
  auto& r = *static_cast<recorder*>(context);
  if (n < r.nmin || n > r.nmax) return;  // beyond the window: never a result
  r.records.push_back({p, index, n});
}

void record_progress(void* context, int64_t p) {
  static_cast<recorder*>(context)->records.push_back({p, progress_mark, 0});
}

}  // namespace

std::optional<chunk> chunk_plan::take() {
  if (exhausted_) return std::nullopt;
  chunk c;
  c.index = next_index_++;
  c.lo = next_lo_;
  c.before_first = first_ ? c.lo : c.lo - 1;
  const int64_t blocks_left = limit_ / progress_bit - c.lo / progress_bit;
  const int64_t share = std::max<int64_t>(1, blocks_left / (2 * std::max(workers_, 1)));
  const int64_t blocks = first_ ? 1 : std::min(width_blocks_, share);
  first_ = false;
  // The first chunk ends at the next multiple of the progress bit; every
  // later one starts and ends on such multiples.
  c.hi = (c.lo / progress_bit + blocks) * progress_bit;
  if (c.hi >= limit_ || c.lo >= limit_) {
    c.hi = limit_;
    c.last = true;
    exhausted_ = true;
  }
  next_lo_ = c.hi;
  return c;
}

// Grows at most twofold at a time, so the first status lines come quickly.
void chunk_plan::measured(int64_t width, double seconds) {
  const double blocks = static_cast<double>(width) / static_cast<double>(progress_bit);
  const double wanted = blocks * chunk_target_seconds / std::max(seconds, 1e-3);
  const auto most = static_cast<double>(2 * width_blocks_);
  width_blocks_ = static_cast<int64_t>(std::clamp(wanted, 1.0, std::min(most, double{max_chunk_blocks})));
}

chunk_board::chunk_board(int64_t pmin, int64_t pmax, std::atomic<bool>& stop, bool end_at_stop)
    : plan_(pmin, std::min(pmax, engine_pmax_limit)), pmin_(pmin), stop_(stop), end_at_stop_(end_at_stop) {}

std::optional<chunk> chunk_board::take() {
  std::lock_guard lock(mutex_);
  if (stop_.load()) return std::nullopt;
  return plan_.take();
}

void chunk_board::give(const chunk& c, chunk_result result, double seconds) {
  {
    std::lock_guard lock(mutex_);
    if (result.complete && !c.last && c.index > 0) plan_.measured(c.hi - c.lo, seconds);
    if (result.failed) out_of_memory_ = true;
    results_.emplace(c.index, std::pair{c, std::move(result)});
  }
  finished_.notify_one();
}

void chunk_board::fail() {
  {
    std::lock_guard lock(mutex_);
    out_of_memory_ = true;
    stop_.store(true);
  }
  finished_.notify_one();
}

void chunk_board::add_producers(int count) {
  std::lock_guard lock(mutex_);
  producers_ += count;
  plan_.add_workers(count);
}

void chunk_board::producer_ended() {
  {
    std::lock_guard lock(mutex_);
    ++ended_producers_;
  }
  finished_.notify_one();
}

parallel_outcome chunk_board::commit_in_order(committer& commit) {
  parallel_outcome outcome;
  int64_t committed_to = pmin_;  // every prime up to here is committed
  for (uint64_t next = 0;; ++next) {
    std::unique_lock lock(mutex_);
    // The stop flag may be set by a signal, which notifies nobody: look again
    // now and then.
    const auto ends_here = [&] {
      return stop_.load() && (end_at_stop_ || next >= plan_.handed_out());
    };
    while (!(results_.count(next) != 0 || ends_here() ||
             (next >= plan_.handed_out() && ended_producers_ == producers_))) {
      finished_.wait_for(lock, std::chrono::milliseconds(100));
    }
    auto found = results_.find(next);
    if (found == results_.end() || (end_at_stop_ && stop_.load())) {
      // Not handed out, or not waited for: the run stopped before it.
      outcome.frontier = first_prime_above(committed_to);
      break;
    }
    auto [c, result] = std::move(found->second);
    results_.erase(found);
    lock.unlock();

    if (result.failed) {
      outcome.frontier = first_prime_above(c.lo);
      break;
    }
    if (!commit.commit(result.records)) {
      stop_.store(true);
      outcome.frontier = result.end;
      break;
    }
    if (!result.complete) {
      outcome.frontier = result.end;
      break;
    }
    if (c.last) {
      outcome.frontier = result.end;
      outcome.done = true;
      break;
    }
    committed_to = c.hi;
  }
  std::lock_guard lock(mutex_);
  outcome.out_of_memory = out_of_memory_;
  return outcome;
}

void sieve_chunks(chunk_source& source, const sequence_set& sequences, const stride_sizing& sizing,
                  std::shared_ptr<const prime_tables> tables, const std::atomic<bool>& stop,
                  const engine_memory& memory, std::shared_ptr<large_prime_windows> windows) {
  recorder rec;
  rec.memory = memory;
  rec.nmin = static_cast<uint32_t>(sequences.nmin);
  rec.nmax = static_cast<uint32_t>(sequences.nmax);
  engine_callbacks callbacks;
  callbacks.context = &rec;
  callbacks.report_factor = record_factor;
  callbacks.report_progress = record_progress;
  callbacks.allocate = memory.allocate != nullptr ? allocate_for : sieve_alloc;
  callbacks.release = memory.release != nullptr ? release_for : sieve_free;
  callbacks.stop_requested = &stop;
  std::unique_ptr<range_engine> engine;
  try {
    engine = std::make_unique<range_engine>(sequences, callbacks, sizing, std::move(tables), std::move(windows));
  } catch (const std::bad_alloc&) {
    source.fail();
    return;
  }
  while (auto c = source.take()) {
    chunk_result result;
    const auto start = std::chrono::steady_clock::now();
    try {
      rec.records.clear();
      result.end = engine->sieve(c->lo, c->hi, c->before_first);
      result.complete = result.end > std::min(c->hi, engine_pmax_limit);
      result.records = std::move(rec.records);
    } catch (const std::bad_alloc&) {
      result.failed = true;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const bool failed = result.failed;
    source.give(*c, std::move(result), seconds);
    if (failed) {
      source.fail();
      return;
    }
  }
}

parallel_outcome sieve_in_parallel(const sequence_set& sequences, const stride_sizing& sizing, int64_t pmin,
                                   int64_t pmax, int threads, committer& commit, std::atomic<bool>& stop,
                                   const engine_memory& memory) {
  chunk_board board(pmin, pmax, stop);
  board.add_producers(threads);
  // Read by every worker's prime source; each window is built once for all.
  const std::shared_ptr<const prime_tables> tables = build_prime_tables();
  const auto windows = std::make_shared<large_prime_windows>(threads, pmin, std::min(pmax, engine_pmax_limit));
  std::vector<std::jthread> workers;
  workers.reserve(static_cast<std::size_t>(threads));
  for (int i = 0; i < threads; ++i) {
    workers.emplace_back([&] {
      sieve_chunks(board, sequences, sizing, tables, stop, memory, windows);
      board.producer_ended();
    });
  }
  const parallel_outcome outcome = board.commit_in_order(commit);
  stop.store(true);  // workers still sieving chunks beyond the frontier give up
  workers.clear();
  return outcome;
}

}  // namespace veksieve
