// The one error type of the program: a message for the console and an exit
// status. Readers throw it; main() catches it once and ends the program.
#pragma once

#include <cstring>
#include <string>

#include "common/text_format.hpp"

namespace veksieve {

// Exit statuses of the program (listed for users in the README).
constexpr int exit_failure = 1;               // anything not listed below
constexpr int exit_bad_sequence_file = 2;     // Vek.dat is missing or defective
constexpr int exit_no_range = 3;              // unsent results, or the input ended before a range
constexpr int exit_status_file_unwritable = 4;  // the status file cannot be created or deleted
constexpr int exit_bad_status_file = 5;       // the status file holds numbers that cannot be used
constexpr int exit_bad_command_line = 6;      // an option's value cannot be used
constexpr int exit_status_file_in_use = 7;    // another run holds the status file

// Said when the memory runs out, before the first prime or during the run.
constexpr const char* out_of_memory_message = "There is not enough memory to sieve!";

struct fatal_error {
  std::string message;  // without its line end, which the one place that prints it adds
  int exit_status = exit_failure;
};

// A file that cannot be `what` ("created", "written", ...) for the system's
// reason `error`.
[[noreturn]] inline void cannot_write(const char* what, const std::string& name, int error) {
  throw fatal_error{text_format("The file '%s' cannot be %s - %s!", name.c_str(), what, std::strerror(error)),
                    exit_status_file_unwritable};
}

// The message as printed: every message ends with a line end.
inline std::string printed(const fatal_error& error) {
  return error.message.empty() || error.message.back() != '\n' ? error.message + "\n" : error.message;
}

}  // namespace veksieve
