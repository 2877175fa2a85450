// veksieve: sieves k*2^n+1 by the primes of a range, with the threads of one
// machine.
#include "control/start_up.hpp"

int main(int argc, char** argv) { return veksieve::start_up(argc, argv); }
