// Chunk hand-out, the workers and the in-order commit loop. Chunk bounds lie
// on multiples of the progress bit, so each chunk's engine reports progress
// at exactly the primes a single engine over the whole range would.
#include "control/parallel_sieve.hpp"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <thread>
#include <vector>

#include "common/config.hpp"
#include "common/platform.hpp"
#include "report/exact_arithmetic.hpp"
#include "primes/prime_source.hpp"
#include "report/sieve_memory.hpp"

namespace veksieve {

namespace {

struct chunk {
  uint64_t index = 0;
  int64_t lo = 0;  // primes above lo ...
  int64_t hi = 0;  // ... up to hi
  int64_t before_first = 0;
  bool last = false;  // hi is the range's end
};

struct chunk_result {
  std::vector<finding> records;
  int64_t end = 0;       // the first prime not sieved
  bool complete = false;  // every prime of the chunk is sieved
  bool failed = false;    // memory ran out: nothing of the chunk counts
};

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

class chunk_plan {
 public:
  chunk_plan(int64_t pmin, int64_t limit) : next_lo_(pmin), limit_(limit), first_(true) {}

  // The next chunk, or nothing once the range is handed out.
  std::optional<chunk> take() {
    if (exhausted_) return std::nullopt;
    chunk c;
    c.index = next_index_++;
    c.lo = next_lo_;
    c.before_first = first_ ? c.lo : c.lo - 1;
    const int64_t blocks = first_ ? 1 : width_blocks_;
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

  // Aims the next chunks at about chunk_target_seconds of work each, growing
  // at most twofold at a time, so the first status lines come quickly.
  void measured(int64_t width, double seconds) {
    const double blocks = static_cast<double>(width) / static_cast<double>(progress_bit);
    const double wanted = blocks * chunk_target_seconds / std::max(seconds, 1e-3);
    const auto most = static_cast<double>(2 * width_blocks_);
    width_blocks_ = static_cast<int64_t>(std::clamp(wanted, 1.0, std::min(most, double{max_chunk_blocks})));
  }

  uint64_t handed_out() const { return next_index_; }
  int64_t next_lo() const { return next_lo_; }

 private:
  int64_t next_lo_;
  int64_t limit_;
  bool first_;
  bool exhausted_ = false;
  uint64_t next_index_ = 0;
  int64_t width_blocks_ = 1;
};

class parallel_run {
 public:
  parallel_run(const sequence_set& sequences, const stride_sizing& sizing, int64_t pmin, int64_t pmax,
               std::atomic<bool>& stop, const engine_memory& memory)
      : sequences_(sequences),
        sizing_(sizing),
        plan_(pmin, std::min(pmax, engine_pmax_limit)),
        stop_(stop),
        memory_(memory),
        tables_(build_prime_tables()) {}

  void work() {
    recorder rec;
    rec.memory = memory_;
    rec.nmin = static_cast<uint32_t>(sequences_.nmin);
    rec.nmax = static_cast<uint32_t>(sequences_.nmax);
    engine_callbacks callbacks;
    callbacks.context = &rec;
    callbacks.report_factor = record_factor;
    callbacks.report_progress = record_progress;
    callbacks.allocate = memory_.allocate != nullptr ? allocate_for : sieve_alloc;
    callbacks.release = memory_.release != nullptr ? release_for : sieve_free;
    callbacks.stop_requested = &stop_;
    std::unique_ptr<range_engine> engine;
    try {
      engine = std::make_unique<range_engine>(sequences_, callbacks, sizing_, tables_);
    } catch (const std::bad_alloc&) {
      fail();
      return;
    }
    while (auto c = take()) {
      chunk_result result;
      const auto start = std::chrono::steady_clock::now();
      try {
        rec.records.clear();
        result.end = engine->sieve(c->lo, c->hi, c->before_first);
        result.complete = result.end > std::min(c->hi, engine_pmax_limit);
        result.records = std::move(rec.records);
      } catch (const std::bad_alloc&) {
        result.failed = true;
        stop_.store(true);
      }
      const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      give(*c, std::move(result), seconds);
      if (out_of_memory_) return;
    }
  }

  parallel_outcome commit_in_order(committer& commit) {
    parallel_outcome outcome;
    for (uint64_t next = 0;; ++next) {
      std::unique_lock lock(mutex_);
      finished_.wait(lock, [&] {
        return results_.count(next) != 0 || (next >= plan_.handed_out() && (stop_.load() || idle_workers_ == workers_));
      });
      auto found = results_.find(next);
      if (found == results_.end()) {
        // Never handed out: the run stopped before it.
        outcome.frontier = first_prime_above(plan_.next_lo());
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
    }
    outcome.out_of_memory = out_of_memory_;
    return outcome;
  }

  void set_workers(int workers) { workers_ = workers; }

 private:
  std::optional<chunk> take() {
    std::lock_guard lock(mutex_);
    if (stop_.load()) return std::nullopt;
    return plan_.take();
  }

  void give(const chunk& c, chunk_result result, double seconds) {
    {
      std::lock_guard lock(mutex_);
      if (result.complete && !c.last && c.index > 0) plan_.measured(c.hi - c.lo, seconds);
      if (result.failed) out_of_memory_ = true;
      results_.emplace(c.index, std::pair{c, std::move(result)});
    }
    finished_.notify_one();
  }

  void fail() {
    {
      std::lock_guard lock(mutex_);
      out_of_memory_ = true;
      stop_.store(true);
    }
    finished_.notify_one();
  }

 public:
  void worker_ended() {
    {
      std::lock_guard lock(mutex_);
      ++idle_workers_;
    }
    finished_.notify_one();
  }

 private:
  const sequence_set& sequences_;
  const stride_sizing& sizing_;
  chunk_plan plan_;
  std::atomic<bool>& stop_;
  engine_memory memory_;
  std::shared_ptr<const prime_tables> tables_;  // read by every worker's prime source
  std::mutex mutex_;
  std::condition_variable finished_;
  std::map<uint64_t, std::pair<chunk, chunk_result>> results_;
  int workers_ = 0;
  int idle_workers_ = 0;
  bool out_of_memory_ = false;
};

}  // namespace

int available_cpus() { return usable_cpu_count(); }

parallel_outcome sieve_in_parallel(const sequence_set& sequences, const stride_sizing& sizing, int64_t pmin,
                                   int64_t pmax, int threads, committer& commit, std::atomic<bool>& stop,
                                   const engine_memory& memory) {
  parallel_run run(sequences, sizing, pmin, pmax, stop, memory);
  run.set_workers(threads);
  std::vector<std::jthread> workers;
  workers.reserve(static_cast<std::size_t>(threads));
  for (int i = 0; i < threads; ++i) {
    workers.emplace_back([&run] {
      run.work();
      run.worker_ended();
    });
  }
  const parallel_outcome outcome = run.commit_in_order(commit);
  stop.store(true);  // workers still sieving chunks beyond the frontier give up
  workers.clear();
  return outcome;
}

}  // namespace veksieve
