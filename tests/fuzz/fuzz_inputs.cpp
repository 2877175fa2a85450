// Runs the sequence-file and status-file readers on raw bytes. The
// completed-results question is answered by the input's first byte, so the
// fuzzer explores both answers.
#include "tests/fuzz/fuzz_inputs.hpp"

#include <sstream>
#include <string>

#include "control/fatal_error.hpp"
#include "control/sequence_table.hpp"
#include "control/status_file_guard.hpp"

namespace veksieve {

void read_sequence_input(const uint8_t* data, size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  try {
    read_sequence_table(in);
  } catch (const fatal_error&) {
  }
}

void read_status_input(const uint8_t* data, size_t size) {
  const bool answer_yes = size > 0 && (data[0] & 1);
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  try {
    read_status(in, "VekStatus.dat", [answer_yes] { return answer_yes; });
  } catch (const fatal_error&) {
  }
}

}  // namespace veksieve
