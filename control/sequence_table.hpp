// The sequence table: Vek.dat read and checked, and turned into parallel
// arrays k, residue, step and bitmap over the window [nmin, nmax].
// A k whose n's fall into several classes of its known period becomes one
// entry per class, and so does any other k where the cost model says the
// classes pay; the entries of one k share that k's bitmap.
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

#include "engine/search_plan.hpp"
#include "engine/sequence_set.hpp"

namespace veksieve {

// Sequence i stands for k[i]*2^n+1 with (n - nmin) mod step[i] == residue[i];
// its candidates are the set bits n - nmin of *bitmap[i]. Sequences split
// from one k share that k's bitmap, so the table is moved, never copied.
struct sequence_table {
  sequence_table() = default;
  sequence_table(sequence_table&&) = default;
  sequence_table& operator=(sequence_table&&) = default;

  int32_t nmin = 0;  // exponent window [nmin, nmax] of every sequence
  int32_t nmax = 0;
  int32_t count = 0;  // number of sequences (entries of the arrays below)
  std::vector<int32_t> k;
  std::vector<uint32_t*> bitmap;
  std::vector<int32_t> residue;
  std::vector<int32_t> step;
  double alpha = default_alpha;  // the search's alpha: the modelled one, or -a='s

  // Owner of the bitmaps: one per k announced on line 1, bitmap_words words each.
  std::vector<std::vector<uint32_t>> bitmap_storage;
  int32_t bitmap_words = 0;

  // The engine's view of the sequences (spans into the table).
  sequence_set sequences() const { return {nmin, nmax, k, residue, step}; }
  // Takes the candidate multiplier*2^n+1 out of every bitmap of that k.
  void strike(int32_t multiplier, uint32_t n);
};

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
// that it pays, and the alpha is the modelled one.
sequence_table read_sequence_table(std::istream& in, int64_t memory_bytes = bitmap_memory_budget(),
                                   const search_costs& costs = {});

// The same for the file at `path`; a file that cannot be opened is reported
// as missing from the current directory.
sequence_table load_sequence_file(const std::string& path);

// The line that says what was read: the k's and their candidates, the n
// window, and who sieves them (`workers`, such as "2 threads").
std::string sequence_summary(const sequence_table& table, const std::string& workers);

}  // namespace veksieve
