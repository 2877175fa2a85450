// The guard around the status file at start-up: its lock, the refusal of a
// file that cannot be used, the backup kept before it is written afresh, its
// creation for a new range, and the strike of the candidates a resumed file
// already names. The lines themselves belong to report/status_file.hpp; here
// every problem becomes the message that ends the program.
#pragma once

#include <istream>
#include <ostream>
#include <string>

#include "common/platform.hpp"

#include "report/status_file.hpp"

namespace veksieve {

struct run_options;
struct sequence_table;

// Reads the lines of a status file (`name` is its name for the messages).
// Throws fatal_error when the completed-results answer is no, when the file
// holds a line no status file holds, when pmin is negative or lies above
// pmax, and when a number does not fit 64 bits.
status_contents read_status(std::istream& in, const std::string& name, const results_sent_question& ask);

// Creates the file afresh with the range's two lines, synced to disk. Throws
// fatal_error naming the file and the reason when that fails.
void create_status_file(const std::string& name, int64_t pmin, int64_t pmax);

// Locks the status file for the whole run, before anything is read. Throws
// fatal_error when it is the sequence file, when the factors file is either
// of them, or when another run holds the lock.
file_lock lock_status_file(const run_options& options);

// Copies the file whole to NAME.bak (NAME.bak.1, .2, ... when that exists)
// before it is written afresh, and returns the copy's name. Throws
// fatal_error when the copy cannot be made; the file is then untouched.
std::string keep_as_backup(const std::string& name);

// Empties a status file whose results were sent, keeping it (and so its
// lock) in place; the lock removes it if no new range is written.
void empty_status_file(const std::string& name);

// Strikes the candidates that the file's factor lines already name, so that a
// resumed range reports each candidate once however often it was interrupted.
// A line naming no candidate of the table is passed over; so is a line whose
// p does not divide its k*2^n+1, named on `out` with the file's `name`.
void strike_reported_factors(sequence_table& table, const status_contents& status, const std::string& name,
                             std::ostream& out);

}  // namespace veksieve
