// Every fixed value of the program that a user or a tuner might ask about,
// with the reason it has the value it has.
#pragma once

#include <cstdint>

namespace veksieve {

// Tuning value of the discrete-logarithm search: a larger alpha makes the
// giant-step stride longer, the stride table shorter and the per-sequence
// walks longer. The accepted range keeps both halves of the search useful.
constexpr double default_alpha = 2.5;
constexpr double min_alpha = 0.1;
constexpr double max_alpha = 105.0;

constexpr const char* default_status_file = "VekStatus.dat";
constexpr const char* sequence_file_name = "Vek.dat";

// Text lines of both input files are read into buffers of this size.
constexpr int line_buffer_size = 1024;

// The engine handles primes below 2^48: the modular product's quotient
// estimate in a 64-bit mantissa stays within one of the truth up to there.
constexpr int64_t engine_pmax_limit = (int64_t{1} << 48) - 1;

// A "pmin=" checkpoint is appended at most once in this many seconds.
constexpr int64_t checkpoint_interval_seconds = 900;

// The candidate prime source holds this many primes beyond its sieving primes
// (109883 to 68056199, 32 MB), enough to sieve exactly up to 68056199^2, far
// past the engine's 2^48. They become active in blocks as the sieve climbs,
// so a low range never pays for primes that cannot strike it yet.
constexpr uint32_t large_prime_count = 4000000;
constexpr uint32_t large_block_primes = 500;
// A block becomes active once the sieve passes the square of the last active
// prime less this margin, well before the new block's first square.
constexpr int64_t large_activation_margin = 100000;

}  // namespace veksieve
