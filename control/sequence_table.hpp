// The sequence table: the sequence file (Vek.dat, or ABCD) read and checked,
// and turned into parallel arrays k, c, residue, step and bitmap over the
// window [nmin, nmax].
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

enum class sequence_format { vek_dat, abcd };

// Sequence i stands for k[i]*2^n+c[i] with (n - nmin) mod step[i] == residue[i];
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
  std::vector<int8_t> c;  // +1 or -1 per sequence; empty: +1 for every one
  double alpha = default_alpha;  // the search's alpha: the modelled one, or -a='s
  std::string name = sequence_file_name;  // of the file, as its messages name it
  sequence_format format = sequence_format::vek_dat;
  int64_t sieved_to = 0;  // an ABCD file's "// Sieved to" depth; 0 unknown

  // Owner of the bitmaps: one per k announced on line 1 (per ABCD
  // sequence), bitmap_words words each.
  std::vector<std::vector<uint32_t>> bitmap_storage;
  int32_t bitmap_words = 0;

  // The engine's view of the sequences (spans into the table).
  sequence_set sequences() const { return {nmin, nmax, k, residue, step, c}; }
  int32_t form_of(size_t i) const { return c.empty() ? 1 : c[i]; }
  // Takes the candidate multiplier*2^n+c out of every bitmap of that k and c.
  void strike(int32_t multiplier, uint32_t n, int32_t c = 1);
};

// Period of the residue classes into which the n's of k are grouped; 1 for a
// k outside the table.
int32_t period_of(int64_t k);

// The memory the candidate bitmaps may take: half the machine's physical
// memory, leaving the rest to the sieve and to everything else running.
int64_t bitmap_memory_budget();

// Builds the table from the text of a sequence file, read as ABCD when it
// begins with an ABCD header and as Vek.dat otherwise. Throws fatal_error
// with the file's message (no line end, naming `name`) when the text is
// defective, or when its bitmaps would take more than `memory_bytes`. A k
// outside the period table is split into residue classes where the cost
// model (with `costs`) finds that it pays, and the alpha is the modelled one.
sequence_table read_sequence_table(std::istream& in, int64_t memory_bytes = bitmap_memory_budget(),
                                   const search_costs& costs = {}, const std::string& name = sequence_file_name);

// The same for the file at `path`; a file that cannot be opened is reported
// as missing (from the current directory, for a name without a directory).
sequence_table load_sequence_file(const std::string& path);

// The line that says what was read: the k's and their candidates, the n
// window, and who sieves them (`workers`, such as "2 threads").
std::string sequence_summary(const sequence_table& table, const std::string& workers);

}  // namespace veksieve
