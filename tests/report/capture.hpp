// What a console channel printed, caught in memory, and a clock the test
// moves by hand.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace veksieve::testing {

class captured_output {
 public:
  captured_output() : file_(open_memstream(&data_, &size_)) {}
  ~captured_output() {
    std::fclose(file_);
    std::free(data_);
  }
  captured_output(const captured_output&) = delete;
  captured_output& operator=(const captured_output&) = delete;

  FILE* file() { return file_; }
  std::string text() {
    std::fflush(file_);
    return std::string(data_, size_);
  }
  std::vector<std::string> lines() {
    std::vector<std::string> result;
    std::string all = text();
    std::size_t start = 0;
    for (std::size_t end; (end = all.find('\n', start)) != std::string::npos; start = end + 1) {
      result.push_back(all.substr(start, end - start));
    }
    if (start < all.size()) result.push_back(all.substr(start) + "<no newline>");
    return result;
  }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
  FILE* file_;
};

}  // namespace veksieve::testing
