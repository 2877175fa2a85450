// libFuzzer target: the Vek.dat reader and sequence-table builder.
#include "tests/fuzz/fuzz_inputs.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  veksieve::read_sequence_input(data, size);
  return 0;
}
