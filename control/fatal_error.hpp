// The one error type of the program: a message for the console and an exit
// status. Readers throw it; main() catches it once and ends the program.
#pragma once

#include <string>

namespace veksieve {

struct fatal_error {
  std::string message;  // printed exactly as it stands (the file messages carry no line end)
  int exit_status = 1;
};

}  // namespace veksieve
