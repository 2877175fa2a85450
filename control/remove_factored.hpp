// Sequence-file upkeep (--remove-factored, --write-abcd=): once a range's
// results are sent, the candidates its factor lines name leave the sequence
// file, or its ABCD copy for other tools.
#pragma once

#include <iosfwd>
#include <string>

#include "control/options.hpp"

namespace veksieve {

// Clears the candidates named by the factor lines of the status file from
// the sequence file's table and prints per k the candidates removed and
// left. --remove-factored rewrites the sequence file in its own format
// (Vek.dat: each k's first n absolute, the later ones "+d"; ABCD as ABCD)
// when a candidate was removed; --write-abcd=FILE writes FILE as ABCD (a
// missing status file then removes nothing). Each new file replaces the old
// one by a rename after an fsync; an old one stays as its name + ".bak".
// Throws fatal_error, with nothing written, when the status file cannot be
// read or holds a factor line that does not verify, and when the sequence
// file is defective. Returns the exit status.
int remove_factored(const run_options& options, std::ostream& out);

}  // namespace veksieve
