// veksieve-mpi: one range sieved by the processes of an MPI job, on as many
// machines as it spans. Rank 0 is the program as one machine runs it (options,
// sequence file, range, status file, console, committer); the other ranks
// sieve chunks for it. Errors are returned by MPI calls rather than ending
// the job, so that a rank going silent is noticed and named by rank 0.
#include <mpi.h>

#include <iostream>
#include <new>

#include "cluster/console_relay.hpp"
#include "cluster/file_checksum.hpp"
#include "cluster/launcher_terminal.hpp"
#include "cluster/rank_zero.hpp"
#include "cluster/worker_rank.hpp"
#include "common/config.hpp"
#include "control/fatal_error.hpp"
#include "control/options.hpp"
#include "control/sequence_table.hpp"
#include "control/sieve_range.hpp"
#include "control/sieve_run.hpp"
#include "control/status_file_guard.hpp"
#include "common/text_format.hpp"
#include "control/usage.hpp"

namespace veksieve {
namespace {

int run_rank_zero(int argc, char** argv, rank_zero& ranks) {
  sieve_job job;
  try {
    const start_action action = scan_options(argc, argv, job, std::cout);
    if (const auto status = run_without_sieving(action, job, std::cout)) return *status;
    // This thread and the committer stay at normal priority (only the sieving
    // threads are idle), so that a busy machine cannot starve the checkpoint
    // past mpirun's kill, nor the other ranks waiting for chunks.
    std::optional<fatal_error> unreadable;
    file_lock status_lock;
    try {
      status_lock = lock_status_file(job);
      load_sequence_file(sequence_file_name, job);
    } catch (const fatal_error& error) {
      unreadable = error;
    }
    // Every other rank is heard before the user is asked for a range.
    const std::string refusal = ranks.check_ranks(file_checksum(sequence_file_name).value_or(0));
    if (unreadable) throw *unreadable;
    if (!refusal.empty()) throw fatal_error{refusal + "\n", exit_bad_sequence_file};
    std::cout << sequence_summary(job, text_format("%d rank%s", ranks.count(), ranks.count() == 1 ? "" : "s")) << '\n';
    settle_range(job, std::cin, std::cout);
    std::cout.flush();

    run_settings settings = settings_from_environment();
    settings.live = launcher_output_is_terminal();
    const double alpha = job.alpha;
    settings.sieve = [&ranks, alpha](const sequence_set& sequences, const stride_sizing& sizing, int64_t pmin,
                                     int64_t pmax, int threads, committer& commit, std::atomic<bool>& stop) {
      return ranks.sieve(alpha, sequences, sizing, pmin, pmax, threads, commit, stop);
    };
    int status = 0;
    {
      const console_relay relay;
      status = run_sieve(job, settings);
    }
    ranks.quit();  // when the run ended before sieving
    return status;
  } catch (const fatal_error& error) {
    ranks.quit();
    std::cout << printed(error) << std::flush;
    return error.exit_status;
  } catch (const std::bad_alloc&) {
    ranks.quit();
    std::cout << "There is not enough memory to sieve!\n" << std::flush;
    return exit_failure;
  }
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
