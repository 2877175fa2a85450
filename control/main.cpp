// veksieve: sieves k*2^n+1 by the primes of a range.
#include "control/sieve_run.hpp"

int main() {
  veksieve::sieve_job job;
  return veksieve::run_sieve(job);
}
