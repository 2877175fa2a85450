// veksieve-mpi: one range sieved by the processes of an MPI job, on as many
// machines as it spans. Rank 0 is the program as one machine runs it (options,
// sequence file, range, status file, console, committer); the other ranks
// sieve chunks for it. Errors are returned by MPI calls rather than ending
// the job, so that a rank going silent is noticed and named by rank 0.
#include <mpi.h>

#include <functional>
#include <memory>

#include "cluster/console_relay.hpp"
#include "cluster/file_checksum.hpp"
#include "cluster/launcher_terminal.hpp"
#include "cluster/rank_zero.hpp"
#include "cluster/worker_rank.hpp"
#include "common/config.hpp"
#include "control/start_up.hpp"

namespace veksieve {
namespace {

int run_rank_zero(int argc, char** argv, rank_zero& ranks) {
  start_up_hooks hooks;
  // This thread and the committer stay at normal priority (only the sieving
  // threads are idle), so that a busy machine cannot starve the checkpoint
  // past mpirun's kill, nor the other ranks waiting for chunks.
  hooks.idle_process = false;
  hooks.worker = "rank";
  hooks.workers = ranks.count();
  hooks.check_peers = [&ranks](const std::string& sequence_file) {
    return ranks.check_ranks(file_checksum(sequence_file).value_or(0), sequence_file);
  };
  hooks.adjust = [&ranks](run_settings& settings) {
    settings.live = launcher_output_is_terminal();
    settings.sieve = std::bind_front(&rank_zero::sieve, &ranks);
  };
  hooks.around_run = [] { return std::make_shared<console_relay>(); };
  hooks.leave = [&ranks] { ranks.quit(); };  // told once; nothing after a started run
  return start_up(argc, argv, hooks);
}

}  // namespace
}  // namespace veksieve

int main(int argc, char** argv) {
  using namespace veksieve;
  int provided = 0;
  MPI_Init_thread(&argc, &argv, MPI_THREAD_FUNNELED, &provided);
  MPI_Comm_set_errhandler(MPI_COMM_WORLD, MPI_ERRORS_RETURN);
  int rank = 0;
  int size = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &size);

  if (rank != 0) {
    const int status = run_worker_rank(argc, argv, rank);
    MPI_Finalize();
    return status;
  }
  rank_zero ranks(size);
  const int status = run_rank_zero(argc, argv, ranks);
  if (!ranks.finish()) {
    // A silent rank cannot take part in ending MPI; the checkpoint is written.
    MPI_Abort(MPI_COMM_WORLD, status);
  }
  MPI_Finalize();
  return status;
}
