// Replays every kept fuzzer input through the two readers: each once found
// a crash, a hang, a sanitizer report or an unbounded allocation.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_inputs.hpp"

namespace {

std::vector<uint8_t> read_bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

template <typename Reader>
int replay(const char* folder, Reader reader) {
  int replayed = 0;
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(FUZZ_CORPUS_DIR) / folder)) {
    SCOPED_TRACE(entry.path().string());
    const std::vector<uint8_t> bytes = read_bytes(entry.path());
    reader(bytes.data(), bytes.size());
    ++replayed;
  }
  return replayed;
}

TEST(reader_corpus, sequence_file_inputs_are_handled) {
  EXPECT_GT(replay("sequence_file", veksieve::read_sequence_input), 0);
}

TEST(reader_corpus, status_file_inputs_are_handled) {
  EXPECT_GT(replay("status_file", veksieve::read_status_input), 0);
}

}  // namespace
