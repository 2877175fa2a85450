// The sequence table: Vek.dat read and checked, and turned into the job's
// parallel arrays k, residue, step and bitmap over the window [nmin, nmax].
// A k whose n's fall into several classes of its known period becomes one
// entry per class, and so does any other k where the cost model says the
// classes pay; the entries of one k share that k's bitmap.
#pragma once

#include <cstdint>
#include <istream>
#include <string>

#include "control/sieve_job.hpp"
#include "engine/search_plan.hpp"

namespace veksieve {

// Period of the residue classes into which the n's of k are grouped; 1 for a
// k outside the table.
int32_t period_of(int64_t k);

// The memory the candidate bitmaps may take: half the machine's physical
// memory, leaving the rest to the sieve and to everything else running.
int64_t bitmap_memory_budget();

// Builds the table from the text of a sequence file. Throws fatal_error with
// the file's message (no line end) when the text is defective, or when its
// bitmaps would take more than `memory_bytes`. A k outside the period table
// is split into residue classes where the cost model (with `costs`) finds
// that it pays; unless job.alpha_given, job.alpha becomes the modelled one.
void read_sequence_table(std::istream& in, sieve_job& job, int64_t memory_bytes = bitmap_memory_budget(),
                         const search_costs& costs = {});

// The same for the file at `path`; a file that cannot be opened is reported
// as missing from the current directory.
void load_sequence_file(const std::string& path, sieve_job& job);

// The line that says what was read: the k's and their candidates, the n
// window, and who sieves them (`workers`, such as "2 threads").
std::string sequence_summary(const sieve_job& job, const std::string& workers);

}  // namespace veksieve
