// The status file: the range of a run and the prime reached ("pmax=" and
// "pmin=" lines), the factors found, and "Done" once the range is finished.
// Reading it decides whether a run resumes; a new range creates it afresh.
#pragma once

#include <cstdint>
#include <functional>
#include <istream>
#include <string>

namespace veksieve {

struct status_contents {
  int64_t pmin = 0;           // from the last "pmin=" line
  int64_t pmax = 0;           // from the last "pmax=" line
  bool console_only = false;  // a line beginning "Write" was read
  bool results_sent = false;  // a "Done" line was met and the user said the results were sent
};

// Asked at a "Done" line: true when the user says the results were sent on.
using results_sent_question = std::function<bool()>;

// Reads the lines of a status file (`name` is its name for the messages).
// Reading stops at a "Done" line answered yes, with pmin and pmax back at 0;
// the caller then deletes the file. Throws fatal_error when the answer is no,
// when pmin is negative and when a number does not fit 64 bits.
status_contents read_status(std::istream& in, const std::string& name, const results_sent_question& ask);

// Creates the file afresh with the range's two lines, synced to disk. Throws
// fatal_error naming the file and the reason when that fails.
void create_status_file(const std::string& name, int64_t pmin, int64_t pmax);

// Deletes a completed status file; one that is already gone is no error.
void delete_status_file(const std::string& name);

}  // namespace veksieve
