#include "control/sieve_run.hpp"

namespace veksieve {

int run_sieve(sieve_job&) { return 0; }  // skeleton

}  // namespace veksieve
