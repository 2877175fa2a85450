// veksieve: sieves k*2^n+1 by the primes of a range. Start-up runs its steps
// in a fixed order and ends in the sieve run; every reason to stop early is a
// fatal_error, caught here once: its message is printed on a line of its own.
#include <iostream>
#include <new>

#include "common/config.hpp"
#include "common/platform.hpp"
#include "control/fatal_error.hpp"
#include "control/options.hpp"
#include "control/sequence_table.hpp"
#include "control/sieve_range.hpp"
#include "control/sieve_run.hpp"
#include "control/status_file_guard.hpp"
#include "common/text_format.hpp"
#include "control/usage.hpp"

int main(int argc, char** argv) {
  using namespace veksieve;
  try {
    sieve_job job;
    const start_action action = scan_options(argc, argv, job, std::cout);
    if (const auto status = run_without_sieving(action, job, std::cout)) return *status;
    const file_lock status_lock = lock_status_file(job);
    lower_to_idle_priority();
    load_sequence_file(sequence_file_name, job);
    const int threads = job.threads > 0 ? job.threads : usable_cpu_count();
    std::cout << sequence_summary(job, text_format("%d thread%s", threads, threads == 1 ? "" : "s")) << '\n';
    settle_range(job, std::cin, std::cout);
    std::cout.flush();
    return run_sieve(job);
  } catch (const fatal_error& error) {
    std::cout << printed(error) << std::flush;
    return error.exit_status;
  } catch (const std::bad_alloc&) {
    // The engine asks for its memory before the first prime, so nothing
    // found is lost; the status file still resumes where it was.
    std::cout << "There is not enough memory to sieve!\n" << std::flush;
    return 1;
  }
}
