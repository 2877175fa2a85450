// Rank 0 of veksieve-mpi: checks that every rank read the same sequence file,
// then sieves the range with its own worker threads and the other ranks
// taking chunks from one chunk board, committed in order on a thread of its
// own while this thread answers the other ranks.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "control/parallel_sieve.hpp"

namespace veksieve {

class rank_zero {
 public:
  explicit rank_zero(int ranks) : ranks_(ranks) {}

  // Takes every other rank's hello. Returns the message that ends the run
  // when one of them could not read its sequence file or read another one
  // than `checksum`; empty when all agree.
  std::string check_ranks(uint64_t checksum);

  // Tells the other ranks that the run ends without sieving (once; nothing
  // after start()).
  void quit();

  // The sieve step of the run (run_settings::sieve): starts the other ranks
  // with `alpha` and sieves until the range is done or the run stops.
  parallel_outcome sieve(double alpha, const sequence_set& sequences, const stride_sizing& sizing, int64_t pmin,
                         int64_t pmax, int threads, committer& commit, std::atomic<bool>& stop);

  // After the run: waits until every other rank has finished, answering
  // what they still send. Returns false when one stopped answering; it
  // cannot take part in ending MPI, and the job must be aborted.
  bool finish();

 private:
  struct peer {
    std::string host;
    std::map<uint64_t, chunk> open;  // handed out, not given back
    std::chrono::steady_clock::time_point last_heard;
    bool finished = false;
  };

  std::string rank_name(int rank) const;
  // Takes the messages waiting; `board` is null once the run has ended.
  // Returns whether there were any.
  bool take_messages(chunk_board* board);
  // Gives up on the ranks silent too long; returns the message for the first.
  std::string give_up_silent(chunk_board* board);

  int ranks_;
  std::vector<peer> peers_;
  bool told_ = false;  // start or quit was sent
  bool started_ = false;
  bool lost_ = false;
};

}  // namespace veksieve
