// The range sieved by several workers at once. The range is cut into chunks
// of primes, handed out in ascending p; each worker sieves its chunk with an
// engine of its own and only records what it finds. The calling thread is the
// committer: it takes the chunks strictly in p order, so every result, status
// line and checkpoint comes out as one thread would produce it.
//
// The chunk board (plan, finished chunks, in-order commit) does not care who
// sieves a chunk: worker threads here, or other processes that take chunks
// through a go-between that gives their results back to the board.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/sieve_engine.hpp"
#include "engine/stride_sizing.hpp"
#include "report/committer.hpp"

namespace veksieve {

struct parallel_outcome {
  // The first prime not committed: above the range's end when it is done;
  // every prime below it is sieved and committed.
  int64_t frontier = 0;
  bool done = false;           // every chunk up to the range's end is committed
  bool out_of_memory = false;  // a worker could not get its memory
  std::string failure;         // why the run ended early when neither a signal nor memory ended it
};

// Where the engines get their memory (zero-filled blocks) and give it back.
struct engine_memory {
  void* (*allocate)(void* context, uint32_t size) = nullptr;  // null: the heap
  void (*release)(void* context, void* block) = nullptr;
  void* context = nullptr;
};

// The primes above lo up to hi; chunk `index` of the run, counted from 0.
struct chunk {
  uint64_t index = 0;
  int64_t lo = 0;
  int64_t hi = 0;
  int64_t before_first = 0;  // the engine's "prime before the first one"
  bool last = false;         // hi is the range's end
};

struct chunk_result {
  std::vector<finding> records;
  int64_t end = 0;        // the first prime not sieved
  bool complete = false;  // every prime of the chunk is sieved
  bool failed = false;    // memory ran out: nothing of the chunk counts
};

// Where a worker takes its chunks and gives back what it found.
class chunk_source {
 public:
  virtual ~chunk_source() = default;
  // The next chunk, or nothing once the range is handed out or the run stops.
  virtual std::optional<chunk> take() = 0;
  virtual void give(const chunk& c, chunk_result result, double seconds) = 0;
  // The worker could not get its engine's memory.
  virtual void fail() = 0;
};

// Cuts the range into chunks on multiples of the progress bit: one block
// first, then as many as take about chunk_target_seconds each.
class chunk_plan {
 public:
  chunk_plan(int64_t pmin, int64_t limit) : next_lo_(pmin), limit_(limit) {}
  std::optional<chunk> take();
  // A complete chunk of `width` took `seconds`: aims the next ones.
  void measured(int64_t width, double seconds);
  // Near the range's end no chunk takes more than its share of what is left
  // among this many workers, so that none of them idles long at the end.
  void add_workers(int count) { workers_ += count; }
  uint64_t handed_out() const { return next_index_; }
  int64_t next_lo() const { return next_lo_; }

 private:
  int64_t next_lo_;
  int64_t limit_;
  bool first_ = true;
  bool exhausted_ = false;
  uint64_t next_index_ = 0;
  int64_t width_blocks_ = 1;
  int workers_ = 0;
};

// The chunks of one run: handed out in ascending p to any number of
// producers, taken back in any order, and committed strictly in order by
// commit_in_order on one thread.
class chunk_board final : public chunk_source {
 public:
  // With `end_at_stop`, a stop ends the commit at the next chunk not yet
  // committed instead of waiting for the chunks in flight and committing
  // them: for a caller that must checkpoint within a deadline.
  chunk_board(int64_t pmin, int64_t pmax, std::atomic<bool>& stop, bool end_at_stop = false);

  std::optional<chunk> take() override;
  void give(const chunk& c, chunk_result result, double seconds) override;
  void fail() override;

  // Producers that may still give chunks back; once all have ended and the
  // run stopped, chunks never handed out are not waited for.
  void add_producers(int count);
  void producer_ended();

  // Takes the chunks in order until the range is done, the run stops, or a
  // chunk ends early; sets the stop flag when a result cannot be saved.
  parallel_outcome commit_in_order(committer& commit);

 private:
  chunk_plan plan_;
  int64_t pmin_;  // where the range starts
  std::atomic<bool>& stop_;
  bool end_at_stop_;
  std::mutex mutex_;
  std::condition_variable finished_;
  std::map<uint64_t, std::pair<chunk, chunk_result>> results_;
  int producers_ = 0;
  int ended_producers_ = 0;
  bool out_of_memory_ = false;
};

// One worker: sieves chunk after chunk from `source` with one long-lived
// engine until the source has none left. The engines of one process share
// `tables`, and those of one run `windows` (each engine its own when null).
void sieve_chunks(chunk_source& source, const sequence_set& sequences, const stride_sizing& sizing,
                  std::shared_ptr<const prime_tables> tables, const std::atomic<bool>& stop,
                  const engine_memory& memory = {}, std::shared_ptr<large_prime_windows> windows = nullptr);

// Sieves the primes above pmin up to min(pmax, the engine's limit) with
// `threads` workers. `stop` ends the run at the committed frontier; it is set
// here too when a worker runs out of memory or a result cannot be saved.
parallel_outcome sieve_in_parallel(const sequence_set& sequences, const stride_sizing& sizing, int64_t pmin,
                                   int64_t pmax, int threads, committer& commit, std::atomic<bool>& stop,
                                   const engine_memory& memory = {});

}  // namespace veksieve
