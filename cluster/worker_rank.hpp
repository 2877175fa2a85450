// Every rank but 0 of veksieve-mpi: reads the sequence file, tells rank 0
// whether it could and the file's checksum, and once started sieves the
// chunks rank 0 hands out with worker threads of its own.
#pragma once

namespace veksieve {

// The whole life of rank `rank`; returns its exit status. Prints nothing:
// rank 0 speaks for the run.
int run_worker_rank(int argc, char** argv, int rank);

}  // namespace veksieve
