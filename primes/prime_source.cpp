#include "primes/prime_source.hpp"
