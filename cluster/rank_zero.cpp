// The chunks of the other ranks go through this thread: a request is
// answered with the board's next chunk, a result is given back to the board
// for the committer. The board ends the commit at the first chunk not yet
// back once the run stops, since mpirun kills every rank a second after
// passing on a signal; chunks still out then are sieved again on resume.
#include "cluster/rank_zero.hpp"

#include <mpi.h>

#include <thread>

#include "cluster/rank_link.hpp"
#include "common/config.hpp"
#include "common/platform.hpp"
#include "common/text_format.hpp"
#include "primes/prime_source.hpp"

namespace veksieve {

namespace {

using steady = std::chrono::steady_clock;

chunk_result read_result(byte_reader& in, chunk& c, double& seconds) {
  chunk_result result;
  c = in.get<chunk>();
  result.end = in.get<int64_t>();
  result.complete = in.get<uint8_t>() != 0;
  result.failed = in.get<uint8_t>() != 0;
  seconds = in.get<double>();
  result.records = in.get_all<finding>();
  return result;
}

void pause() { std::this_thread::sleep_for(std::chrono::microseconds(rank_poll_pause_us)); }

}  // namespace

std::string rank_zero::rank_name(int rank) const {
  return text_format("Rank %d (on %s)", rank, peers_[static_cast<std::size_t>(rank)].host.c_str());
}

std::string rank_zero::check_ranks(uint64_t checksum, const std::string& sequence_file) {
  peers_.resize(static_cast<std::size_t>(ranks_));
  std::string refusal;
  for (int rank = 1; rank < ranks_; ++rank) {
    message hello = receive_message(rank);
    byte_reader in(hello.bytes);
    const bool read = in.get<uint8_t>() != 0;
    const auto theirs = in.get<uint64_t>();
    peers_[static_cast<std::size_t>(rank)].host = in.get_text();
    const std::string why = in.get_text();
    if (!refusal.empty()) continue;
    if (!read) {
      refusal = rank_name(rank) + " cannot use its sequence file: " + why;
    } else if (theirs != checksum) {
      refusal = text_format("%s reads another '%s' than rank 0: every rank needs the same file",
                            rank_name(rank).c_str(), sequence_file.c_str());
    }
  }
  return refusal;
}

void rank_zero::quit() {
  if (told_) return;
  told_ = true;
  for (int rank = 1; rank < ranks_; ++rank) send_message(rank, message_kind::quit);
}

void rank_zero::end_because(int rank, const char* what) {
  if (stop_ == nullptr || stop_->load()) return;
  failure_ = text_format("%s %s: the run ends here, and the next start resumes it", rank_name(rank).c_str(), what);
  stop_->store(true);
}

bool rank_zero::take_messages(chunk_board* board) {
  bool any = false;
  while (auto m = poll_message(MPI_ANY_SOURCE)) {
    any = true;
    peer& from = peers_[static_cast<std::size_t>(m->source)];
    from.last_heard = steady::now();
    switch (m->kind) {
      case message_kind::request:
        if (auto c = board != nullptr ? board->take() : std::nullopt) {
          send_message(m->source, message_kind::chunk, byte_writer().put(*c).bytes());
        } else {
          from.told_to_end = true;
          send_message(m->source, message_kind::no_chunk);
        }
        break;
      case message_kind::result: {
        byte_reader in(m->bytes);
        chunk c;
        double seconds = 0;
        chunk_result result = read_result(in, c, seconds);
        if (board == nullptr || !in.ok()) break;
        if (!result.complete && !result.failed) end_because(m->source, "was interrupted");
        const bool failed = result.failed;
        board->give(c, std::move(result), seconds);
        if (failed) board->fail();
        break;
      }
      case message_kind::no_memory:
        if (board != nullptr) board->fail();
        break;
      case message_kind::finished:
        from.finished = true;
        if (!from.told_to_end) end_because(m->source, "stopped");
        break;
      default:  // heartbeat
        break;
    }
  }
  return any;
}

void rank_zero::give_up_silent() {
  const auto now = steady::now();
  for (int rank = 1; rank < ranks_; ++rank) {
    peer& r = peers_[static_cast<std::size_t>(rank)];
    if (r.finished || now - r.last_heard < std::chrono::seconds(rank_silence_limit_seconds)) continue;
    const std::string what = text_format("has not answered for %d seconds", static_cast<int>(rank_silence_limit_seconds));
    end_because(rank, what.c_str());
    lost_ = true;
    r.finished = true;
  }
}

// This rank's own sieving threads, with copies of what they read: they run at
// idle priority, and on a busy machine may take longer to notice a stop than
// mpirun waits before its kill, so the checkpoint does not wait for them.
struct rank_zero::own_workers {
  own_workers(const sequence_set& of, const stride_sizing& sized, int64_t pmin, int64_t pmax)
      : k(of.k.begin(), of.k.end()),
        residue(of.residue.begin(), of.residue.end()),
        step(of.step.begin(), of.step.end()),
        c(of.c.begin(), of.c.end()),
        sequences{.nmin = of.nmin, .nmax = of.nmax, .k = k, .residue = residue, .step = step, .c = c},
        sizing(sized),
        board(pmin, pmax, halt, true) {}

  std::vector<int32_t> k;
  std::vector<int32_t> residue;
  std::vector<int32_t> step;
  std::vector<int8_t> c;
  sequence_set sequences;
  stride_sizing sizing;
  std::atomic<bool> halt = false;  // the run's stop, passed on by the main thread
  chunk_board board;
  std::vector<std::jthread> threads;  // last, so that they end first
};

rank_zero::rank_zero(int ranks) : ranks_(ranks) {}

rank_zero::~rank_zero() = default;

parallel_outcome rank_zero::sieve(double alpha, const sequence_set& sequences, const stride_sizing& sizing,
                                  int64_t pmin, int64_t pmax, int threads, committer& commit,
                                  std::atomic<bool>& stop) {
  told_ = true;
  started_ = true;
  stop_ = &stop;
  for (int rank = 1; rank < ranks_; ++rank) send_message(rank, message_kind::start, byte_writer().put(alpha).bytes());
  for (peer& r : peers_) r.last_heard = steady::now();

  own_ = std::make_unique<own_workers>(sequences, sizing, pmin, pmax);
  own_workers& own = *own_;
  own.board.add_producers(threads + 1);  // this thread gives back the other ranks' chunks
  const std::shared_ptr<const prime_tables> tables = build_prime_tables();
  for (int i = 0; i < threads; ++i) {
    own.threads.emplace_back([&own, tables] {
      lower_thread_to_idle_priority();
      sieve_chunks(own.board, own.sequences, own.sizing, tables, own.halt);
      own.board.producer_ended();
    });
  }
  parallel_outcome outcome;
  std::atomic<bool> committed = false;
  std::jthread committer_thread([&] {
    outcome = own.board.commit_in_order(commit);
    committed.store(true);
  });

  bool stopping = false;
  for (;;) {
    const bool busy = take_messages(&own.board);
    give_up_silent();
    if (!stopping && (stop.load() || own.halt.load() || committed.load())) {
      stopping = true;
      // A signal, a rank that ended the run, the board (memory, a result not
      // saved) or the committer done: workers beyond the frontier give up.
      stop.store(true);
      own.halt.store(true);
      for (int rank = 1; rank < ranks_; ++rank) {
        peer& r = peers_[static_cast<std::size_t>(rank)];
        if (r.finished) continue;
        r.told_to_end = true;
        send_message(rank, message_kind::stop);
      }
    }
    if (committed.load()) break;
    if (!busy) pause();
  }

  own.board.producer_ended();
  committer_thread.join();
  stop_ = nullptr;
  if (!failure_.empty()) outcome.failure = failure_;
  return outcome;
}

bool rank_zero::finish() {
  if (!started_) return true;
  own_.reset();  // the checkpoint is written: now this rank's threads are waited for
  for (;;) {
    const bool busy = take_messages(nullptr);
    give_up_silent();
    bool all_finished = true;
    for (std::size_t rank = 1; rank < peers_.size(); ++rank) all_finished = all_finished && peers_[rank].finished;
    if (all_finished) return !lost_;
    if (!busy) pause();
  }
}

}  // namespace veksieve
