// Sequence-file upkeep (--remove-factored): once a range's results are sent,
// the candidates its factor lines name leave the sequence file.
#pragma once

#include <iosfwd>
#include <string>

namespace veksieve {

// Rewrites the sequence file at `sequence_path` without the candidates named
// by the factor lines of the status file at `status_path`, in the same
// format (each k's first n absolute, the later ones "+d"), and prints per k
// the candidates removed and left. The new file replaces the old one by a
// rename after an fsync; the old one stays as `sequence_path` + ".bak".
// Throws fatal_error, with nothing written, when the status file cannot be
// read or holds a factor line that does not verify, and when the sequence
// file is defective. Returns the exit status.
int remove_factored(const std::string& sequence_path, const std::string& status_path, std::ostream& out);

}  // namespace veksieve
