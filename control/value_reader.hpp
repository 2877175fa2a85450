// The value reader of Vek.dat: turns the file's lines into a stream of values
// (numbers, k announcements, end of file) and keeps the two pieces of state
// the table builder needs: the previous n, and the running gcd of the
// distances between the n's of the current k (its step).
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace veksieve {

struct file_value {
  enum kind_t : uint8_t {
    end,     // end of file (also "k=0")
    number,  // a header number, or a candidate n of the current k
    k_line,  // "k=" and a number, or a negative number where a k may stand
  };
  kind_t kind = end;
  int64_t value = 0;  // the number, or the announced k (which may be < 1)
};

class value_reader {
 public:
  // The step accumulator's start for every k: 2^6*3^4*5^2*7, a multiple of
  // every period a sieved k's n's are known to fall into.
  static constexpr int32_t initial_step = 907200;

  // `name` is the file's, as its messages name it.
  explicit value_reader(std::istream& in, std::string name = "Vek.dat") : in_(in), name_(std::move(name)) {}

  // Throws fatal_error for a number that does not fit 32 bits and, inside a
  // k's block, for an n that does not rise above the previous one.
  file_value read_value();

  // Starts the block of n's of k: the n's that follow must rise, lines that
  // read as 0 are skipped, and the step accumulator starts afresh.
  void begin_k(int64_t k);

  int32_t step_accumulator() const { return step_accumulator_; }

 private:
  bool next_line();
  [[noreturn]] void throw_too_large() const;
  [[noreturn]] void throw_not_rising(int64_t n) const;

  std::istream& in_;
  std::string name_;
  // Lines are cut from blocks read whole: a million-line file is read in a
  // fraction of the time line-by-line extraction takes.
  std::vector<char> block_;
  size_t block_begin_ = 0;  // the unread part of block_
  size_t block_end_ = 0;
  std::string_view line_;  // the current line, read whole however long
  std::string long_line_;  // holds a line that crosses the end of a block
  int64_t line_number_ = 0;
  int32_t previous_n_ = 0;
  int32_t step_accumulator_ = 0;
  bool in_block_ = false;
  int64_t current_k_ = 0;
};

}  // namespace veksieve
