// The one start-up of veksieve and veksieve-mpi: options, the starts that do
// not sieve, the status file's lock, the sequence file, its summary, the range
// and the run. Every reason to stop early is a fatal_error (or the memory
// running out), caught here once: its message is printed on a line of its own.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "control/sieve_run.hpp"

namespace veksieve {

// Where a program that spreads the run over processes differs.
struct start_up_hooks {
  // Whether the whole process runs at idle priority; otherwise only the
  // sieving threads do.
  bool idle_process = true;
  // Who sieves, as the summary names them: `workers` of `worker`, or with 0
  // the threads of -t= (one per CPU without it).
  const char* worker = "thread";
  int workers = 0;
  // Called once the sequence file is read, or found unusable, before the
  // range is settled, with the sequence file's name: the message that ends
  // the run, or empty.
  std::function<std::string(const std::string& sequence_file)> check_peers;
  // Changes the run's settings from the environment's (the sieve step, the
  // live line).
  std::function<void(run_settings& settings)> adjust;
  // Made before the run and held until it ends (a console passed on).
  std::function<std::shared_ptr<void>()> around_run;
  // Called on every way out but the starts that do not sieve.
  std::function<void()> leave;
};

// Returns the exit status.
int start_up(int argc, const char* const* argv, const start_up_hooks& hooks = {});

}  // namespace veksieve
