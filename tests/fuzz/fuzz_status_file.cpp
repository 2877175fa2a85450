// libFuzzer target: the status-file reader.
#include "tests/fuzz/fuzz_inputs.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  veksieve::read_status_input(data, size);
  return 0;
}
