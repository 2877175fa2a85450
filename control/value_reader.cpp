// Reading Vek.dat value by value. A "k=" line announces a k; a "+" line gives
// an n relative to the previous one; any other line gives its number. Lines
// that read as 0 are never returned. Inside a k's block the n's must rise:
// a step of 0 or below would leave the engine dividing by zero or looping.
#include "control/value_reader.hpp"

#include <cstring>
#include <string_view>

#include "common/leading_number.hpp"
#include "common/text_format.hpp"
#include "control/fatal_error.hpp"

namespace veksieve {

namespace {

// Euclid on positive operands.
int32_t gcd(int32_t a, int32_t b) {
  while (b != 0) {
    const int32_t r = a % b;
    a = b;
    b = r;
  }
  return a;
}

}  // namespace

bool value_reader::next_line() {
  // A line ends at '\n', which is dropped, or at the end of the file when
  // any character precedes it there.
  bool started = false;
  long_line_.clear();
  for (;;) {
    if (block_begin_ == block_end_) {
      if (block_.empty()) block_.resize(size_t{1} << 16);
      in_.read(block_.data(), static_cast<std::streamsize>(block_.size()));
      block_begin_ = 0;
      block_end_ = static_cast<size_t>(in_.gcount());
      if (block_end_ == 0) {
        if (!started) return false;
        line_ = long_line_;
        ++line_number_;
        return true;
      }
    }
    const char* const begin = block_.data() + block_begin_;
    const size_t left = block_end_ - block_begin_;
    const auto* const newline = static_cast<const char*>(std::memchr(begin, '\n', left));
    if (newline == nullptr) {
      long_line_.append(begin, left);
      block_begin_ = block_end_;
      started = true;
      continue;
    }
    const auto length = static_cast<size_t>(newline - begin);
    if (started) {
      long_line_.append(begin, length);
      line_ = long_line_;
    } else {
      line_ = std::string_view(begin, length);
    }
    block_begin_ += length + 1;
    ++line_number_;
    return true;
  }
}

void value_reader::begin_k(int64_t k) {
  in_block_ = true;
  current_k_ = k;
  previous_n_ = 0;
  step_accumulator_ = initial_step;
}

void value_reader::throw_too_large() const {
  throw fatal_error{text_format("The file '%s' is invalid - the number on line %lld does not fit 32 bits!",
                                name_.c_str(), static_cast<long long>(line_number_)),
                    exit_bad_sequence_file};
}

void value_reader::throw_not_rising(int64_t n) const {
  throw fatal_error{text_format("The file '%s' is invalid - for k=%lld, there is n=%lld, which is not above "
                                "the previous n!",
                                name_.c_str(), static_cast<long long>(current_k_), static_cast<long long>(n)),
                    exit_bad_sequence_file};
}

file_value value_reader::read_value() {
  while (next_line()) {
    const std::string_view line = line_;
    if (line.size() >= 2 && line[0] == 'k' && line[1] == '=') {
      const leading_number k = read_leading_number(line.substr(2));
      if (!k.fits || !fits_int32(k.value)) throw_too_large();
      previous_n_ = 0;
      in_block_ = false;
      if (k.value == 0) return {file_value::end, 0};  // "k=0" reads as the end of the file
      return {file_value::k_line, k.value};
    }

    const bool relative = !line.empty() && line[0] == '+';
    const leading_number number = read_leading_number(relative ? line.substr(1) : line);
    if (!number.fits || !fits_int32(number.value)) throw_too_large();
    if (number.value == 0 && !relative) {
      // Blank or stray lines. Inside a block they must not end it or enter
      // the step; in the header they clear the previous n as they always did.
      if (!in_block_) previous_n_ = 0;
      continue;
    }
    const int64_t n = relative ? previous_n_ + number.value : number.value;
    if (!fits_int32(n)) throw_too_large();

    if (in_block_ && (relative || previous_n_ != 0)) {
      const int64_t distance = n - previous_n_;
      if (distance <= 0) throw_not_rising(n);
      // The distance first: it is mostly a multiple of the step, one division.
      step_accumulator_ = gcd(static_cast<int32_t>(distance), step_accumulator_);
    } else if (n < 0) {
      // A negative number where a k may stand announces that k, as "k=" does.
      previous_n_ = 0;
      in_block_ = false;
      return {file_value::k_line, -n};
    }
    previous_n_ = static_cast<int32_t>(n);
    if (n != 0) return {file_value::number, n};
  }
  previous_n_ = 0;
  in_block_ = false;
  return {file_value::end, 0};
}

}  // namespace veksieve
