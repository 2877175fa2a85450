// Rank 0 of veksieve-mpi: checks that every rank read the same sequence file,
// then sieves the range with its own worker threads and the other ranks
// taking chunks from one chunk board, committed in order on a thread of its
// own while this thread answers the other ranks.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "control/parallel_sieve.hpp"

namespace veksieve {

class rank_zero {
 public:
  explicit rank_zero(int ranks);
  ~rank_zero();
  int count() const { return ranks_; }

  // Takes every other rank's hello. Returns the message that ends the run
  // when one of them could not read its sequence file or read another one
  // than `checksum`; empty when all agree.
  std::string check_ranks(uint64_t checksum, const std::string& sequence_file);

  // Tells the other ranks that the run ends without sieving (once; nothing
  // after sieve()).
  void quit();

  // The sieve step of the run (run_settings::sieve): starts the other ranks
  // with `alpha` and sieves until the range is done or the run stops. A rank
  // that stops on its own or falls silent ends the run with a message naming it.
  parallel_outcome sieve(double alpha, const sequence_set& sequences, const stride_sizing& sizing, int64_t pmin,
                         int64_t pmax, int threads, committer& commit, std::atomic<bool>& stop);

  // After the run: waits until every other rank and this rank's own sieving
  // threads have finished, answering what the ranks still send. Returns
  // false when a rank fell silent: it cannot take part in ending MPI, and the
  // job must be aborted.
  bool finish();

 private:
  struct own_workers;
  struct peer {
    std::string host;
    std::chrono::steady_clock::time_point last_heard;
    bool told_to_end = false;  // it was sent no chunk or a stop
    bool finished = false;
  };

  std::string rank_name(int rank) const;
  // Takes the messages waiting; `board` is null once the run has ended.
  // Returns whether there were any.
  bool take_messages(chunk_board* board);
  // Gives up on the ranks silent too long.
  void give_up_silent();
  // Ends the run because of `rank`, unless it is ending already.
  void end_because(int rank, const char* what);

  int ranks_;
  std::vector<peer> peers_;
  bool told_ = false;  // start or quit was sent
  bool started_ = false;
  bool lost_ = false;
  std::atomic<bool>* stop_ = nullptr;  // while sieving
  std::unique_ptr<own_workers> own_;   // from sieve() until finish()
  std::string failure_;
};

}  // namespace veksieve
