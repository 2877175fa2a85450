// The two readers of untrusted files, driven from memory: shared by the
// libFuzzer targets and by the test that replays the kept corpus.
#pragma once

#include <cstddef>
#include <cstdint>

namespace veksieve {

// Each returns normally for every input: a defective file is a fatal_error
// with a message, which counts as handled.
void read_sequence_input(const uint8_t* data, size_t size);
void read_status_input(const uint8_t* data, size_t size);

}  // namespace veksieve
