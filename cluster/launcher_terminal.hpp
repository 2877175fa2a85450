// Whether the person who started the job watches a terminal. Open MPI hands
// every rank a pseudo-terminal of its own, whatever mpirun's output is, so
// rank 0's own stdout says nothing: a job logged to a file would fill the
// log with carriage returns and escape codes.
#pragma once

namespace veksieve {

// True when mpirun (or mpiexec, orterun), found among this process's
// ancestors, writes to a terminal. A rank whose launcher is not an ancestor
// (a daemon on another machine) cannot tell, and answers false: a log is
// better served than a screen.
bool launcher_output_is_terminal();

}  // namespace veksieve
