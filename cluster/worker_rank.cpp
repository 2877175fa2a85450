// The worker threads take chunks from a local go-between: a thread that wants
// a chunk leaves a request, which this rank's main thread (the only one that
// talks MPI) sends to rank 0; chunks and results travel the same way. Only the
// worker threads are at idle priority: a main thread starved by a busy
// machine would look silent to rank 0. A worker rank ignores the stop signals
// and stops when rank 0 tells it to: when mpirun ends a job it signals every
// rank, and kills the rest at once when one of them ends, which would leave
// rank 0 no time for its checkpoint.
#include "cluster/worker_rank.hpp"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <sstream>
#include <thread>

#include "cluster/file_checksum.hpp"
#include "cluster/rank_link.hpp"
#include "common/config.hpp"
#include "common/platform.hpp"
#include "control/fatal_error.hpp"
#include "control/options.hpp"
#include "control/parallel_sieve.hpp"
#include "control/sequence_table.hpp"
#include "primes/prime_source.hpp"

namespace veksieve {

namespace {

constexpr int rank_zero_id = 0;

void pause() { std::this_thread::sleep_for(std::chrono::microseconds(rank_poll_pause_us)); }

struct finished_chunk {
  chunk c;
  chunk_result result;
  double seconds = 0;
};

class remote_chunks final : public chunk_source {
 public:
  explicit remote_chunks(std::atomic<bool>& stop) : stop_(stop) {}

  std::optional<chunk> take() override {
    std::unique_lock lock(mutex_);
    if (no_more_ || stop_.load()) return std::nullopt;
    ++requests_;
    arrived_.wait(lock, [&] { return !ready_.empty() || no_more_; });
    if (ready_.empty()) return std::nullopt;
    const chunk c = ready_.front();
    ready_.pop_front();
    return c;
  }

  void give(const chunk& c, chunk_result result, double seconds) override {
    std::lock_guard lock(mutex_);
    outbox_.push_back({c, std::move(result), seconds});
  }

  void fail() override {
    std::lock_guard lock(mutex_);
    out_of_memory_ = true;
  }

  void worker_ended() {
    std::lock_guard lock(mutex_);
    ++ended_;
  }

  // Sends what the workers left for rank 0; returns whether there was any.
  bool send_outgoing() {
    std::unique_lock lock(mutex_);
    const int requests = std::exchange(requests_, 0);
    std::vector<finished_chunk> results = std::move(outbox_);
    outbox_.clear();
    const bool out_of_memory = std::exchange(out_of_memory_, false);
    lock.unlock();
    for (const finished_chunk& f : results) {
      byte_writer out;
      out.put(f.c).put(f.result.end).put(uint8_t{f.result.complete}).put(uint8_t{f.result.failed}).put(f.seconds);
      out.put_all(std::span<const finding>(f.result.records));
      send_message(rank_zero_id, message_kind::result, out.bytes());
    }
    for (int i = 0; i < requests; ++i) send_message(rank_zero_id, message_kind::request);
    if (out_of_memory) send_message(rank_zero_id, message_kind::no_memory);
    return requests > 0 || !results.empty() || out_of_memory;
  }

  void deliver(const message& m) {
    {
      std::lock_guard lock(mutex_);
      if (m.kind == message_kind::chunk) {
        byte_reader in(m.bytes);
        const auto c = in.get<chunk>();
        if (in.ok()) ready_.push_back(c);
      } else {  // no chunk, or stop
        no_more_ = true;
      }
    }
    arrived_.notify_all();
  }

  bool all_ended(int workers) {
    std::lock_guard lock(mutex_);
    return ended_ == workers && outbox_.empty() && requests_ == 0 && !out_of_memory_;
  }

 private:
  std::atomic<bool>& stop_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<chunk> ready_;
  std::vector<finished_chunk> outbox_;
  int requests_ = 0;
  int ended_ = 0;
  bool no_more_ = false;
  bool out_of_memory_ = false;
};

std::string host_name() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "an unknown host";
  return name;
}

void serve_chunks(const sequence_table& table, int32_t threads_given, double alpha) {
  const sequence_set sequences = table.sequences();
  const stride_sizing sizing = plan_stride_search(sequences, alpha);
  // Rank 0 refused a file it cannot sieve before starting anyone, and this
  // file is the same; without a sizing this rank only takes part in ending.
  const int threads = !sizing.ok() ? 0 : threads_given > 0 ? threads_given : usable_cpu_count();

  std::atomic<bool> stop = false;
  remote_chunks source(stop);
  const std::shared_ptr<const prime_tables> tables = threads > 0 ? build_prime_tables() : nullptr;
  std::vector<std::jthread> workers;
  for (int i = 0; i < threads; ++i) {
    workers.emplace_back([&] {
      lower_thread_to_idle_priority();
      sieve_chunks(source, sequences, sizing, tables, stop);
      source.worker_ended();
    });
  }
  auto last_sent = std::chrono::steady_clock::now();
  for (;;) {
    bool busy = source.send_outgoing();
    if (busy) last_sent = std::chrono::steady_clock::now();
    while (auto m = poll_message(rank_zero_id)) {
      busy = true;
      if (m->kind == message_kind::stop) stop.store(true);
      source.deliver(*m);
    }
    if (source.all_ended(threads)) break;
    if (std::chrono::steady_clock::now() - last_sent > std::chrono::milliseconds(rank_heartbeat_ms)) {
      send_message(rank_zero_id, message_kind::heartbeat);
      last_sent = std::chrono::steady_clock::now();
    }
    if (!busy) pause();
  }
  workers.clear();
  send_message(rank_zero_id, message_kind::finished);
}

}  // namespace

int run_worker_rank(int argc, char** argv, int /*rank*/) {
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) signal(sig, SIG_IGN);
  run_options options;
  std::ostringstream ignored;  // rank 0 prints what the options say, and ends the run on a bad range
  try {
    options = scan_options(argc, argv, ignored);
    if (options.action != start_action::sieve) return 0;
  } catch (const fatal_error& error) {
    return error.exit_status;
  }

  sequence_table table;
  bool read = true;
  std::string why;
  try {
    table = load_sequence_file(options.sequence_file);
  } catch (const fatal_error& error) {
    read = false;
    why = error.message;
    while (!why.empty() && (why.back() == '\n' || why.back() == '\r')) why.pop_back();
  } catch (const std::bad_alloc&) {
    read = false;
    why = "There is not enough memory to read it";
  }
  const uint64_t checksum = file_checksum(options.sequence_file).value_or(0);
  send_message(rank_zero_id, message_kind::hello,
               byte_writer().put(uint8_t{read}).put(checksum).put_text(host_name()).put_text(why).bytes());

  // Rank 0 may be waiting for a range typed at its prompt.
  for (;;) {
    if (auto m = poll_message(rank_zero_id)) {
      if (m->kind != message_kind::start) return 0;
      byte_reader in(m->bytes);
      const auto alpha = in.get<double>();
      if (read) serve_chunks(table, options.threads, alpha);
      return 0;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace veksieve
