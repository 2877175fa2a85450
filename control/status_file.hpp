// Start-up's use of the status file: reading it to decide whether a run
// resumes, creating it for a new range, deleting it once its results are
// sent. The lines themselves belong to report/status_file.hpp; here every
// problem becomes the message that ends the program.
#pragma once

#include <istream>
#include <string>

#include "report/status_file.hpp"

namespace veksieve {

struct sieve_job;

// Reads the lines of a status file (`name` is its name for the messages).
// Throws fatal_error when the completed-results answer is no, when pmin is
// negative and when a number does not fit 64 bits.
status_contents read_status(std::istream& in, const std::string& name, const results_sent_question& ask);

// Creates the file afresh with the range's two lines, synced to disk. Throws
// fatal_error naming the file and the reason when that fails.
void create_status_file(const std::string& name, int64_t pmin, int64_t pmax);

// Deletes a completed status file; one that is already gone is no error.
void delete_status_file(const std::string& name);

// Strikes the candidates that the file's factor lines already name, so that a
// resumed range reports each candidate once however often it was interrupted.
// A line naming no candidate of the job is passed over.
void strike_reported_factors(sieve_job& job, const status_contents& status);

}  // namespace veksieve
