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

// Per-operation costs of the search in nanoseconds, for the cost model that
// picks the stride when no alpha is given and decides which k's are split
// into residue classes (engine/search_cost_model.hpp). Only their ratios
// matter. Measured by bench/stride_calibration near 10^12 (one thread's CPU
// time, least squares over sieve runs of 13 crafted sequence sets, fitted
// within 4% but for two table-heavy sets); re-run it after any change to
// the kernels and paste the lines it prints here. These are the figures with
// the presence map sized by the table's length (4096 or 8192 blocks):
// medians of seven fits (table entry 0.59 to 1.26 ns, walk step 0.55 to
// 0.64 ns, searched sequence 21 to 29 ns). The walk step is at its floor, a
// product and a gather of the map (0.53 ns in bench/lane_product_bench), and
// the table entry near its own. These are the fastest kernel's,
// and they serve every kernel: the others measure differently (the
// interleaved kernel's walk step, 1.97 ns, costs as much as its table entry;
// medians of five fits), but a model fed their own figures chose strides and
// splits that ran W1 a tenth slower with the interleaved kernel.
constexpr double cost_table_entry_ns = 0.598;
constexpr double cost_walk_step_ns = 0.574;
constexpr double cost_searched_sequence_ns = 22.0;
constexpr double cost_residue_test_ns = 10.8;
constexpr double cost_group_ns = 3.30;
// The modelled stride replaces the default alpha's only when it is expected
// to cost this share less: the default is well tuned for the period-table
// files, and the fit's errors are within 7% on all but one set. W1's
// modelled gain (9%) shows in measurements (10%); a tighter rule would let
// the fit's noise move W2 (whose two nearest strides the model puts 11%
// apart).
constexpr double model_least_gain = 0.05;

// The group filter reads the quadratic character of -k or -2k from a table
// of Jacobi symbols (r/k), k bits per k, instead of raising it to (p-1)/2
// (about 60 dependent products per prime). Per engine the tables take at
// most this many bits (1 MB, W3's 40 k's below 10^5 take 250 KB); a k beyond
// it keeps Euler's criterion.
constexpr uint64_t quadratic_table_max_bits = uint64_t{1} << 23;

// The power-residue tests also use how far 2 itself is a q-th power modulo
// p, for these small q and their powers q^j up to the bound (one lane each of
// one batch of powers per prime): where 2 is a q^j-th power, so is every
// power of 2, and a solution needs -k*2^e to be one as well, beyond what the
// step alone demands. This drops about 22% of W3's searched (prime,
// sequence) pairs and 6% of W1's near 10^12; larger q add little.
constexpr uint32_t order_test_primes[] = {2, 3, 5, 7, 11, 13};
constexpr uint32_t order_test_prime_count = sizeof(order_test_primes) / sizeof(order_test_primes[0]);
constexpr uint64_t order_test_max_power = 256;

// Powers 2^e of the per-prime set-up (start values, test values, step
// multipliers) come from a table of one product each for e below this
// bound (64 doublings and bound/64 products per prime, as far as the largest
// step needs); larger e are raised by square-and-multiply.
constexpr uint32_t pow2_table_bound = 4096;

// A k outside the period table may be split into the residue classes of a
// divisor of this period (a multiple of its gcd step) that its n's occupy.
// 720 = 2^4 * 3^2 * 5, the period table's largest: the n's that sieving by
// small primes leaves to a k gather in classes of 2, 3 and 5, and every
// period chosen must divide the stride, which a base with more or larger
// prime factors would lengthen beyond what the table's length pays for.
constexpr int32_t class_period_base = 720;

constexpr const char* default_status_file = "VekStatus.dat";
constexpr const char* sequence_file_name = "Vek.dat";

// Text lines of both input files are read into buffers of this size.
constexpr int line_buffer_size = 1024;

// The last prime a range reaches lies below 2^62: the Montgomery product and
// the prime source are exact up to there.
constexpr int64_t engine_pmax_limit = (int64_t{1} << 62) - 1;

// Ranges are typed in billions, up to the last whole billion below 2^62.
constexpr int64_t max_range_billions = ((int64_t{1} << 62) - 1) / 1000000000;

// No range reaches beyond 2^62: a status file that names a larger number was
// not written by this program and is refused rather than sieved.
constexpr int64_t status_number_limit = int64_t{1} << 62;

// The walk kernels keep many independent product chains in flight, since one
// chain waits a whole product's latency per step (about 2.8 ns against 0.8 ns
// per product with 4 in flight, bench/mulmod_bench); each kernel's lanes and
// exact range are in its row (engine/kernels/kernel_dispatch.cpp). The
// active walks of a prime are laid end to end and cut into one run of equal
// length per lane, so that every lane finishes together and the lanes never
// stop to refill. A lane moves on to its next walk only where a block of
// this many steps starts (a walk ending inside a block walks on, reporting
// nothing): each change costs a few instructions per block instead of per
// step, and the padding about 1.5 steps per walk.
constexpr uint32_t walk_switch_block = 4;
// The most independent chains a kernel's table build runs (a row's
// table_chains, 8 for the portable build).
constexpr uint32_t max_table_chains = 32;

// A kernel that compares a whole table quickly builds no chains for a table
// the walks are expected to hit at most this often per prime: a hit compares
// the whole table in vectors, which costs less than chaining every entry
// while hits are few: about a tenth faster at 7 hits per prime, a tenth
// slower at 16 and twice slower at 65 (a sequence file with 40, 80 and 200
// k's).
constexpr double table_scan_max_hits = 10;

// The presence map is cleared group by group after a short table, and whole
// (16 or 32 KB) after one this long, which touches most of its groups anyway.
constexpr uint32_t presence_clear_all_length = 512;
// From this many entries a table's presence map has 8192 blocks, below it
// 4096: the walks of a table this long (their steps about as many as its
// entries) hit a map of 4096 blocks about four times a prime, each hit a
// search of the table of about 130 cycles; twice the blocks save about two
// of them, a little more than clearing 16 KB more costs.
constexpr uint32_t presence_wide_length = 1400;
// A kernel that clears the map beside the next table's first powers does so
// in this many parts (of 1 or 2 KB), one in each round of those powers (20 rounds for n near 10^6),
// where the stores overlap the products: 166 ns for powers and clearing
// against 240 ns one after the other (Zen 4, n = 10^6, M = 15840, a map of 16 KB).
constexpr int presence_clear_parts = 16;

// The stride table's entries are chained through 16-bit indices, so it holds
// at most 2^16 entries; a window that would need more gets a longer stride.
constexpr uint32_t max_table_length = 65536;

// The engine's per-sequence arrays (8-byte entries) are requested through a
// 32-bit size.
constexpr uint32_t max_sequence_count = UINT32_MAX / 8;

// The engine reports progress each time this bit of the prime changes
// (every 262,144 numbers: a few status lines a second near 10^12).
constexpr int64_t progress_bit = 0x40000;

// Workers take the range in chunks of whole progress blocks: one block at the
// start, so the first status line comes at once, then as many as make about
// this much work, enough that handing out and committing cost nothing by
// comparison. The cap keeps a run over tiny ranges from waiting on one huge
// chunk near its end.
constexpr double chunk_target_seconds = 1.0;
constexpr int64_t max_chunk_blocks = 1 << 20;

// Processes on several machines (veksieve-mpi). A rank with nothing to do
// looks for messages again after this pause: short against a chunk's second,
// long enough that waiting costs no noticeable CPU.
constexpr int64_t rank_poll_pause_us = 200;
// A rank that has sent nothing else for this long says it is alive; rank 0
// gives up on a rank it has not heard from for the silence limit (a machine
// that hangs or lost the network) and ends the run at the frontier.
constexpr int64_t rank_heartbeat_ms = 1000;
constexpr int64_t rank_silence_limit_seconds = 10;
// Rank 0's console shows its status line in place at most this often: on a
// terminal nobody sees the difference, while mpirun, which holds about 19 KB
// of a rank's output once it stops reading to end a job, then still has room
// for the closing lines. With a status line for every block, two ranks on a
// 2-core machine wrote 20 to 25 KB in that second at p near 10^8.
constexpr int64_t console_status_interval_ms = 250;

// Worker threads accepted by -t=: far above the largest machine such a sieve
// runs on, and low enough that a mistyped count cannot start tens of
// thousands of threads, each with its own engine and prime source.
constexpr int32_t max_threads = 1024;

// The longest time -s= and -r= take: a year, beyond any run's length.
constexpr int64_t max_option_seconds = 365 * 24 * 3600;

// A "pmin=" checkpoint is appended at most once in this many seconds.
constexpr int64_t checkpoint_interval_seconds = 900;

// A status-file line that cannot be written is tried again after this pause,
// long enough not to spin a core, short enough to catch a disk freed by hand;
// after the give-up limit the run stops and lists what it could not save.
constexpr int64_t status_retry_pause_ms = 1000;
constexpr int64_t status_give_up_ms = 60000;

// The prime source files its large sieving primes (above 2^17) in buckets of
// this many 8-byte entries, 4 KB with the header: large enough that a
// segment's list is a few long runs, small enough that the partly filled
// newest bucket of each list ahead stays a small share (the primes below
// bucket_prime_bound reach 128 segments ahead). The pool grows by slabs of
// buckets_per_slab buckets (1 MB).
constexpr uint32_t bucket_capacity = 510;
constexpr uint32_t buckets_per_slab = 256;

// Only the sieving primes below this bound wait in buckets (1.08 million of
// them, about 9 MB per worker); from its square, 2^48, the larger ones are
// streamed out of a small sieve once per window instead, since one entry for
// each of the 105 million primes below 2^31 would take 840 MB at 2^62. The
// windows are shared by the workers of a run and the buckets are not, so
// the bound is low: at 2^25 each worker held 17 MB, and two workers with the
// windows more than 64 MB. Moving the primes from 2^24 to 2^25 into the
// stream adds 1% to its primes and a fifth to the window's strikes.
constexpr int64_t bucket_prime_bound = int64_t{1} << 24;
// The windows the streamed primes strike: this many segments of 2^18
// integers, a 40 MB bitmap of the numbers prime to 30 (a byte per 30
// integers, 1.26e9 integers), for the whole run: one window with one worker,
// two of half the width with more, so that one is read while the next is
// built. Each window costs one pass over the primes up to its square root
// (1.05e8 at 2^62) and their strikes, scattered over the bitmap and bound by
// memory bandwidth, so the windows are as wide as the memory allows.
constexpr uint32_t window_segments = 4800;

}  // namespace veksieve
